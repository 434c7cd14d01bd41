/*
 * sim_c.h - a small C interface to the simulated board, for the C demo and
 * for the Python package (through ctypes and libvoxa_sim.so).
 *
 *   voxa_sim_board* sim = voxa_sim_start_tcp(0);            127.0.0.1, ephemeral port
 *   VOXA_Open_Tcp(voxa_sim_loopback_address(), voxa_sim_port(sim), 0);
 *   ...
 *   voxa_sim_stop(sim);                               stops and frees it
 *
 * Every function accepts a NULL board and then does nothing (or returns 0).
 * Registers are numbered 0 CHIPSET ... 31 CUSTOM, as in the library.
 */
#ifndef VOXA_SIM_C_H
#define VOXA_SIM_C_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  define VOXA_SIM_API
#else
#  define VOXA_SIM_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct voxa_sim_board voxa_sim_board;

/* A frame received from the host, decoded. */
typedef struct voxa_sim_frame {
  int64_t seq;           /* 0, 1, 2, ... in order of arrival */
  uint32_t time_ms;      /* the board's clock at arrival */
  uint8_t opcode;        /* as received, immediate flag included */
  uint8_t code;          /* opcode & 0x7F */
  uint8_t kind;          /* 0 system, 1 read request, 2 register write, 3 action, 4 invalid */
  uint8_t mask;
  uint8_t descriptor;
  int8_t reg;            /* register of a read request or write, else -1 */
  int16_t tag;           /* tag byte, -1 when the frame carried none */
  int32_t count;         /* values carried by a write */
  uint32_t values[8];
} voxa_sim_frame;

/* Starting and stopping. */
VOXA_SIM_API voxa_sim_board* voxa_sim_start_tcp(int port);  /* 0: ephemeral port; NULL on failure */
VOXA_SIM_API voxa_sim_board* voxa_sim_start_pty(void);      /* NULL on failure */
VOXA_SIM_API void voxa_sim_stop(voxa_sim_board* sim);       /* stops the board and frees it */
VOXA_SIM_API int voxa_sim_port(const voxa_sim_board* sim);  /* TCP port, 0 for a pty board */
VOXA_SIM_API const char* voxa_sim_device_path(const voxa_sim_board* sim); /* pty path, "" for TCP */
VOXA_SIM_API uint32_t voxa_sim_loopback_address(void); /* 127.0.0.1 in network byte order */
VOXA_SIM_API int voxa_sim_is_connected(const voxa_sim_board* sim);
VOXA_SIM_API int voxa_sim_connection_count(const voxa_sim_board* sim);
VOXA_SIM_API int voxa_sim_wait_connection(const voxa_sim_board* sim, int count, uint32_t timeout_ms);
/* One host at a time: while the host the board serves is live (connection
 * open, a frame within the last second), a new connection is accepted and
 * closed at once without a byte (turned away). on=1 lets a new connection
 * take the board instead (the hand-over of tests that play two hosts). */
VOXA_SIM_API void voxa_sim_set_hand_over(voxa_sim_board* sim, int on);
VOXA_SIM_API int voxa_sim_turned_away_count(const voxa_sim_board* sim);
/* The host watchdog: when no frame has come from the host for ms, every
 * axis stops (decelerating) and the queue is dropped; 0 switches it off. */
VOXA_SIM_API void voxa_sim_set_host_watchdog(voxa_sim_board* sim, uint32_t ms);
VOXA_SIM_API int voxa_sim_watchdog_stop_count(const voxa_sim_board* sim);

/* The board. */
VOXA_SIM_API uint32_t voxa_sim_get_reg(const voxa_sim_board* sim, int reg, int word);
VOXA_SIM_API void voxa_sim_set_reg(voxa_sim_board* sim, int reg, int word, uint32_t value);
VOXA_SIM_API int32_t voxa_sim_position(const voxa_sim_board* sim, int axis);
VOXA_SIM_API int voxa_sim_is_idle(const voxa_sim_board* sim);
VOXA_SIM_API int voxa_sim_wait_idle(const voxa_sim_board* sim, uint32_t timeout_ms); /* 1 idle, 0 timeout */
VOXA_SIM_API void voxa_sim_set_engine_version(voxa_sim_board* sim, int major, int minor);
VOXA_SIM_API void voxa_sim_set_heartbeat(voxa_sim_board* sim, int on);
VOXA_SIM_API void voxa_sim_override_busy(voxa_sim_board* sim, int busy);      /* -1: no override */
VOXA_SIM_API void voxa_sim_override_waiting(voxa_sim_board* sim, int count);  /* -1: no override */
VOXA_SIM_API void voxa_sim_hold_queue(voxa_sim_board* sim, int hold);
/* lower/upper: -1 follow the positional switch, 0 inactive, 1 active. */
VOXA_SIM_API void voxa_sim_set_limit_input(voxa_sim_board* sim, int axis, int lower, int upper);
VOXA_SIM_API void voxa_sim_set_limit_positions(voxa_sim_board* sim, int axis, int enabled, int32_t lo, int32_t hi);
VOXA_SIM_API void voxa_sim_set_home_sensor(voxa_sim_board* sim, int axis, int32_t position);

/* Frames from the host. */
VOXA_SIM_API int64_t voxa_sim_frame_count(const voxa_sim_board* sim);
/* Waits for the first frame with seq >= from_seq whose code (opcode & 0x7F)
 * is code (-1: any); returns its seq, or -1 on timeout. */
VOXA_SIM_API int64_t voxa_sim_wait_frame(const voxa_sim_board* sim, int code, int64_t from_seq, uint32_t timeout_ms);
/* Copies frame seq into out; 1 when it is still in the log, else 0. */
VOXA_SIM_API int voxa_sim_get_frame(const voxa_sim_board* sim, int64_t seq, voxa_sim_frame* out);

/* Sending by hand. */
VOXA_SIM_API void voxa_sim_send_packet(voxa_sim_board* sim, int type, const uint8_t* payload, size_t len);
VOXA_SIM_API void voxa_sim_send_state_packet(voxa_sim_board* sim, int contents);
VOXA_SIM_API void voxa_sim_inject_raw(voxa_sim_board* sim, const uint8_t* bytes, size_t len);

/* Faults. */
VOXA_SIM_API void voxa_sim_drop_connection(voxa_sim_board* sim);
VOXA_SIM_API void voxa_sim_drop_after_frames(voxa_sim_board* sim, uint32_t frames);
VOXA_SIM_API void voxa_sim_drop_after_ms(voxa_sim_board* sim, uint32_t ms);
VOXA_SIM_API void voxa_sim_go_silent(voxa_sim_board* sim, uint32_t ms);
VOXA_SIM_API void voxa_sim_set_corrupt_rate(voxa_sim_board* sim, double rate);
VOXA_SIM_API void voxa_sim_set_delay(voxa_sim_board* sim, double rate, uint32_t ms);
/* mode: 0 accept, 1 close accepted connections at once, 2 stop listening. */
VOXA_SIM_API void voxa_sim_refuse_connections(voxa_sim_board* sim, int mode);
VOXA_SIM_API void voxa_sim_flood_state_packets(voxa_sim_board* sim, uint32_t count);

#ifdef __cplusplus
}
#endif

#endif /* VOXA_SIM_C_H */
