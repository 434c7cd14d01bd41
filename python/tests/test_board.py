"""The Python package against simulated boards in this process."""

import contextlib
import errno
import io
import logging
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import voxa

CAL1 = 8
DRIVEVEL = 17
GIO = 29


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class SimTestCase(unittest.TestCase):
    def open_sim(self):
        sim = voxa.SimBoard()
        self.addCleanup(sim.stop)
        board = sim.open()
        self.addCleanup(board.close)
        board.set_velocity(start=100, drive=8000, acc=50, dec=50)
        board.enable_complete_packets()
        # The set-up has reached the board: everything queued has run.
        self.assertTrue(board.wait_idle(5))
        return sim, board


class BoardTest(SimTestCase):
    def setUp(self):
        self.sim, self.board = self.open_sim()

    def test_tagged_line_reaches_its_target_and_the_wait_sees_it(self):
        b = self.board
        self.assertEqual(b.cmd_id, voxa.NO_ID)
        b.line({0: 1500, 1: -700}, cmd_id=7)
        self.assertTrue(b.wait_motion(7, timeout=5))
        self.assertEqual((self.sim.position(0), self.sim.position(1)), (1500, -700))
        line = self.sim.wait_frame(0x5B)
        self.assertEqual((line["mask"], line["tag"]), (0x03, 7))
        # The ID applied to that command only.
        self.assertEqual(b.cmd_id, voxa.NO_ID)

    def test_wait_times_out_when_the_board_holds_its_queue(self):
        self.sim.hold_queue(True)
        self.board.cmove({2: 400}, cmd_id=9)
        start = time.monotonic()
        self.assertFalse(self.board.wait_motion(9, timeout=0.25))
        self.assertGreaterEqual(time.monotonic() - start, 0.24)
        self.sim.hold_queue(False)
        self.assertTrue(self.board.wait_motion(9, timeout=5))

    def test_completion_callbacks_arrive_in_order_off_the_waiting_thread(self):
        b = self.board
        seen = []
        done = threading.Event()

        def on_complete(cmd_id):
            # Calling back into the board while the main thread waits on it.
            seen.append((cmd_id, b.cur_pos(0), threading.current_thread() is threading.main_thread()))
            if cmd_id == 3:
                done.set()

        b.on_complete(on_complete)
        for i, target in enumerate((300, 600, 900), start=1):
            b.cmove({0: target}, cmd_id=i)
        self.assertTrue(b.wait_motion(3, timeout=5))
        self.assertTrue(done.wait(5))
        self.assertEqual([s[0] for s in seen], [1, 2, 3])
        self.assertFalse(any(s[2] for s in seen))
        b.on_complete(None)
        b.cmove({0: 0}, cmd_id=4)
        self.assertTrue(b.wait_motion(4, timeout=5))
        self.assertEqual(len(seen), 3)

    def test_failures_carry_the_code_and_its_meaning(self):
        b = self.board
        with self.assertRaises(voxa.VoxaError) as e:
            b.reg_word(32, 0)
        self.assertEqual(e.exception.code, voxa.ERR_ARGUMENT)
        self.assertEqual(e.exception.meaning, voxa.error_text(-50))
        self.assertEqual(e.exception.function, "VOXA_Get_RegWord")
        self.assertIn("argument outside the accepted values", str(e.exception))
        with self.assertRaises(voxa.VoxaError) as e:
            b.line({8: 100})
        self.assertEqual(e.exception.code, voxa.ERR_ARGUMENT)
        with self.assertRaises(voxa.VoxaError) as e:
            b.imove({0: 1 << 31})
        self.assertEqual(e.exception.code, voxa.ERR_ARGUMENT)
        with self.assertRaises(voxa.VoxaError) as e:
            voxa.Board.tcp("127.0.0.1", free_port())
        self.assertEqual(e.exception.code, voxa.ERR_OPEN)
        b.close()
        b.close()
        with self.assertRaises(voxa.VoxaError) as e:
            b.cur_pos(0)
        self.assertEqual(e.exception.code, voxa.ERR_NOT_OPEN)

    def test_register_words_by_number_and_name(self):
        b = self.board
        seq = self.sim.frame_count
        b.set_reg_word("cal1", 2, 0xDEADBEEF)
        write = self.sim.wait_frame(0x11 + 2 * CAL1, from_seq=seq)
        self.assertEqual((write["mask"], write["values"]), (0x04, [0xDEADBEEF]))
        self.assertEqual(b.reg_word(CAL1, 2), 0xDEADBEEF)
        self.assertEqual(b.registers()[CAL1][2], 0xDEADBEEF)
        self.assertEqual(voxa.reg_name(6), "CURPOS")
        self.assertEqual(voxa.reg_number("Curpos"), 6)
        with self.assertRaises(voxa.VoxaError):
            voxa.reg_number("NOPE")

    def test_immediate_commands_carry_the_flag(self):
        seq = self.sim.frame_count
        with self.board.immediate():
            self.board.set_velocity(drive=2500)
        write = self.sim.wait_frame(0x11 + 2 * DRIVEVEL, from_seq=seq)
        self.assertTrue(write["opcode"] & 0x80)
        # The board-wide drive velocity is the high half of word 0.
        self.assertEqual(write["values"][0] >> 16, 2500)

    def test_configuration_round_trip(self):
        b = self.board
        b.set_velocity(drive=1234)
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "board.ini")
            b.save_config(path)
            b.set_velocity(drive=1)
            b.load_config(path)
            self.assertEqual(b.velocity_profile()["drive"], 1234)
            self.assertEqual(self.sim.reg(DRIVEVEL, 0) >> 16, 1234)
            with self.assertRaises(FileNotFoundError):
                b.load_config(os.path.join(d, "missing.ini"))


class ConversionTest(SimTestCase):
    """What the Python side turns into export arguments."""

    def setUp(self):
        self.sim, self.board = self.open_sim()

    def written(self, reg, from_seq):
        frame = self.sim.wait_frame(0x11 + 2 * reg, from_seq=from_seq)
        self.assertIsNotNone(frame)
        return frame

    def test_words_with_the_top_bit_set_reach_the_board_unchanged(self):
        seq = self.sim.frame_count
        self.board.gout = 0x80000001
        write = self.written(GIO, seq)
        self.assertEqual((write["mask"], write["values"]), (0x10, [0x80000001]))
        self.assertEqual(self.board.gout, 0x80000001)
        seq = self.sim.frame_count
        self.board.set_reg_word(CAL1, 0, -2)
        self.assertEqual(self.written(CAL1, seq)["values"], [0xFFFFFFFE])

    def test_state_timer_and_soft_limits_set_their_fields(self):
        b = self.board
        seq = self.sim.frame_count
        b.set_state_timer(50, ["curpos"])
        self.sim.wait_frame(0x11, from_seq=seq)
        self.assertEqual(b.call("VOXA_Get_StateTimer", 15), 50)
        self.assertEqual(b.call("VOXA_Is_StateTimer", 0x1000), 1)
        self.assertEqual(b.call("VOXA_Is_StateTimer", 0x0800), 0)
        with self.assertRaises(voxa.VoxaError) as e:
            b.set_state_timer(30)
        self.assertEqual(e.exception.code, voxa.ERR_ARGUMENT)
        b.set_soft_limits([1, 2], lower=-100)
        self.assertEqual(b.call("VOXA_Get_SoftLowerLimit", 0x04), -100)
        self.assertEqual((b.call("VOXA_IsEnable_SoftLowerLimit", 0x02), b.call("VOXA_IsEnable_SoftUpperLimit", 0x02)),
                         (1, 0))

    def test_call_reaches_other_exports_but_not_the_board_table(self):
        b = self.board
        b.call("VOXA_Set_BusySize", 50)
        self.assertEqual(b.call("VOXA_Get_BusySize"), 50)
        with self.assertRaises(voxa.VoxaError) as e:
            b.call("VOXA_Set_InterruptMode", 2)
        self.assertEqual(e.exception.code, voxa.ERR_ARGUMENT)
        for name in ("VOXA_Close", "VOXA_Set_BoardID", "VOXA_Open_Tcp", "strlen"):
            with self.assertRaises(ValueError):
                b.call(name)

    def test_bad_motion_arguments_send_nothing(self):
        b = self.board
        seq = self.sim.frame_count
        for bad in (lambda: b.arc_cw({0: 10, 1: 0}, {0: 20}), lambda: b.cmove([100]), lambda: b.home(9),
                    lambda: b.line({0: 1.5}), lambda: b.cmove({0: 1}, cmd_id=256)):
            with self.assertRaises(voxa.VoxaError) as e:
                bad()
            self.assertEqual(e.exception.code, voxa.ERR_ARGUMENT)
        # A command after them is the first the board gets.
        b.sync(cmd_id=3)
        sync = self.sim.wait_frame(0x53, from_seq=seq)
        self.assertEqual(sync["tag"], 3)
        sent = [self.sim.frame(k) for k in range(seq, sync["seq"])]
        self.assertEqual([f for f in sent if f and f["kind"] in ("write", "action")], [])

    def test_a_failing_callback_does_not_stop_the_later_ones(self):
        b = self.board
        seen = []
        done = threading.Event()

        def on_complete(cmd_id):
            seen.append(cmd_id)
            if cmd_id == 1:
                raise RuntimeError("raised on purpose")
            done.set()

        b.on_complete(on_complete)
        stderr = io.StringIO()
        with contextlib.redirect_stderr(stderr), self.assertLogs("voxa", "ERROR") as logged:
            b.cmove({0: 100}, cmd_id=1)
            b.cmove({0: 200}, cmd_id=2)
            self.assertTrue(done.wait(5))
        self.assertEqual(seen, [1, 2])
        self.assertIn("raised on purpose", "\n".join(logged.output))
        self.assertEqual(stderr.getvalue(), "", "silent unless logging is configured")


class WaitTest(SimTestCase):
    """Waits end with the board's state as it is now, and say why they ended."""

    def setUp(self):
        self.sim, self.board = self.open_sim()

    def test_a_board_reports_completions_from_its_open(self):
        self.assertEqual(self.board.call("VOXA_Is_CompleteStatePacket"), 1)

    def test_a_completed_wait_leaves_the_final_positions_in_the_getters(self):
        b = self.board
        b.line({0: 1000, 1: 2000}, cmd_id=1)
        result = b.wait_motion(1, timeout=5)
        self.assertTrue(result)
        self.assertEqual((result.status, result.reason, result.fresh), ("complete", None, True))
        self.assertEqual((b.cur_pos(0), b.cur_pos(1)), (1000, 2000))
        self.assertTrue(b.refresh(["curpos", 12]))
        with self.assertRaises(voxa.VoxaError):
            b.refresh([32])

    def test_a_line_stopped_by_a_limit_is_not_complete(self):
        b = self.board
        b.enable_limits(0)
        self.sim.set_limit_input(0, upper=True)
        b.cmove({0: 5000}, cmd_id=2)
        result = b.wait_motion(2, timeout=5)
        self.assertFalse(result)
        self.assertEqual((result.status, result.reason, result.limit_axes), ("stopped", "limit", [0]))
        self.assertEqual(b.cur_pos(0), self.sim.position(0))
        self.assertLess(b.cur_pos(0), 5000)

    def test_a_wait_that_times_out_says_so(self):
        self.sim.hold_queue(True)
        self.board.cmove({0: 100}, cmd_id=3)
        result = self.board.wait_motion(3, timeout=0.1)
        self.assertEqual((bool(result), result.status), (False, "timeout"))

    def test_wait_idle_returns_once_everything_queued_has_run(self):
        b = self.board
        for k in range(1, 6):
            b.cmove({1: 200 * k})
        self.assertTrue(b.wait_idle(timeout=10))
        self.assertEqual((b.cur_pos(1), b.soft_queue_left, b.engine_queue_left), (1000, 0, 0))

    def test_a_stop_from_a_second_thread_reaches_the_board_while_a_first_waits(self):
        b = self.board
        self.sim.hold_queue(True)
        b.cmove({0: 100}, cmd_id=4)
        ended = []

        def wait():
            try:
                b.wait_motion(4, 3)
            except voxa.VoxaError as e:
                ended.append(e.code)

        waiter = threading.Thread(target=wait)
        waiter.start()
        time.sleep(0.05)
        seq = self.sim.frame_count
        b.stop()
        self.assertIsNotNone(self.sim.wait_frame(0x51, from_seq=seq, timeout=0.5))
        self.assertTrue(waiter.is_alive())
        b.close()  # ends the wait within a slice
        waiter.join(2)
        self.assertEqual(ended, [voxa.ERR_NOT_OPEN])


class SeveralBoardsTest(SimTestCase):
    def test_two_boards_driven_from_two_threads_stay_apart(self):
        boards = [self.open_sim() for _ in range(2)]
        errors = []

        def drive(board, base):
            try:
                for k in range(1, 4):
                    board.cmove({0: base * k}, cmd_id=k)
                    if not board.wait_motion(k, timeout=5):
                        errors.append(f"board {board.id}: command {k} did not complete")
            except Exception as e:  # reported to the main thread
                errors.append(repr(e))

        threads = [threading.Thread(target=drive, args=(b, 100 * (i + 1))) for i, (_, b) in enumerate(boards)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(20)
        self.assertEqual(errors, [])
        self.assertEqual([sim.position(0) for sim, _ in boards], [300, 600])
        self.assertNotEqual(boards[0][1].id, boards[1][1].id)


class SerialBoardTest(unittest.TestCase):
    def test_a_board_on_a_pseudo_terminal_opens_by_device_path(self):
        with voxa.SimBoard(pty=True) as sim, sim.open() as board:
            self.assertIn("serial /dev/", repr(board))
            board.enable_complete_packets()
            board.cmove({3: 777}, cmd_id=2)
            self.assertTrue(board.wait_motion(2, timeout=5))
            self.assertEqual(sim.position(3), 777)


class LibraryLocationTest(unittest.TestCase):
    def test_an_explicit_path_that_does_not_exist_is_reported(self):
        env = dict(os.environ, VOXA_LIBRARY="/nonexistent/libvoxa.so")
        out = subprocess.run([sys.executable, "-c", "import voxa\ntry:\n voxa.dll_version()\n"
                              "except voxa.LibraryNotFound as e:\n print('not found:', e)\n"],
                             env=env, capture_output=True, text=True, timeout=30)
        self.assertIn("not found: VOXA_LIBRARY=/nonexistent/libvoxa.so", out.stdout, out.stderr)


if __name__ == "__main__":
    unittest.main()


class ConventionsTest(SimTestCase):
    """What users of such packages expect: an error hierarchy, arguments
    checked before the call, timeouts on request, the frame trace."""

    def setUp(self):
        self.sim, self.board = self.open_sim()

    def test_bad_values_fail_before_the_call_with_the_error_that_fits(self):
        b = self.board
        seq = self.sim.frame_count
        with self.assertRaises(ValueError) as e:
            b.set_velocity(drive=-5)
        self.assertIsInstance(e.exception, voxa.ArgumentError)
        with self.assertRaises(TypeError) as e:
            b.cur_pos("0")
        self.assertIsInstance(e.exception, voxa.VoxaError)
        with self.assertRaises(TypeError):
            b.set_velocity(drive=4000.0)
        b.sync(cmd_id=3)
        sync = self.sim.wait_frame(0x53, from_seq=seq)
        self.assertEqual([self.sim.frame(k)["code"] for k in range(seq, sync["seq"])
                          if self.sim.frame(k)["kind"] == "write"], [], "nothing reached the board")

        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "broken.ini")
            with open(path, "w") as f:
                f.write("[VOXA_V01_ENGINE_CONFIG]\nREG[00].00 = 1\n")
            with self.assertRaises(voxa.ConfigFileError) as e:
                b.load_config(path)
            self.assertEqual(e.exception.code, voxa.ERR_CONFIG_LOAD)
        with self.assertRaises(ConnectionError) as e:
            voxa.Board.tcp("127.0.0.1", free_port())
        self.assertIsInstance(e.exception, voxa.LinkError)
        b.close()
        with self.assertRaises(voxa.NotOpenError):
            b.cur_pos(0)

    def test_arguments_that_do_not_fit_and_unknown_addresses_raise_the_packages_errors(self):
        b = self.board
        b.set_velocity(drive=1234)
        for bad in ("x", 2.5, None, b"\x10"):
            with self.assertRaises(voxa.ArgumentTypeError, msg=repr(bad)):
                b.call("VOXA_Set_DriveVel", bad)
        with self.assertRaises(voxa.ArgumentTypeError):
            b.call("VOXA_Save_ConfigFile", "board.ini")  # a text goes as bytes
        self.assertEqual(b.call("VOXA_Get_DriveVel"), 1234)
        for timeout in (-1, float("nan")):
            with self.assertRaises(voxa.ArgumentError, msg=repr(timeout)):
                b.wait_motion(voxa.ANY_ID, timeout=timeout)
        with self.assertRaises(voxa.ArgumentError):
            b.wait_idle(timeout=-0.5)
        with self.assertRaises(voxa.LinkError):
            voxa.Board.tcp("300.1.1.1")

    def test_the_link_is_up_once_the_board_answers_and_the_state_reads_as_voxactl_says_it(self):
        with voxa.SimBoard() as sim, sim.open() as b:
            opened = time.monotonic()
            self.assertTrue(b.refresh(timeout=2))
            snap = b.snapshot()
            self.assertLess(time.monotonic() - opened, 2.5, "before the keep-alive watchdog's first look")
            self.assertTrue(snap["link"])
            self.assertEqual(snap["state"], "enabled, at rest")
            b.delay(5000)  # moves nothing
            deadline = time.monotonic() + 3
            while b.state == "enabled, at rest" and time.monotonic() < deadline:
                b.refresh(timeout=1)
            self.assertEqual(b.state, "enabled, running")
            b.stop(immediate=True)

    def test_waits_raise_timeout_error_when_asked(self):
        self.sim.hold_queue(True)
        self.board.cmove({0: 100}, cmd_id=9)
        self.assertTrue(self.board.wait_motion(9, timeout=0.1).timed_out)
        with self.assertRaises(TimeoutError):
            self.board.wait_motion(9, timeout=0.1, raise_on_timeout=True)
        with self.assertRaises(TimeoutError):
            self.board.wait_idle(timeout=0.1, raise_on_timeout=True)

    def test_frames_are_traced_to_a_callback_a_list_and_a_file(self):
        b = self.board
        seen = []
        received = threading.Event()

        def on_frame(frame):
            seen.append(frame)
            if frame.direction == "received":
                received.set()

        b.on_frame(on_frame)
        with b.trace_frames() as frames:
            b.sync(cmd_id=3)
            self.assertIsNotNone(self.sim.wait_frame(0x53))
            self.assertTrue(received.wait(5))
        sent = [f for f in frames if f.direction == "sent" and f.data[3] & 0x7F == 0x53]
        self.assertEqual(len(sent), 1, frames)
        self.assertEqual(sent[0].data[-2], 3, "tagged with its command ID")
        self.assertTrue(any(f.direction == "received" for f in frames))
        self.assertTrue(set(frames) <= set(seen), "the callback saw them too")
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "frames.txt")
            with b.trace_frames(path):
                seq = self.sim.frame_count
                b.sync(cmd_id=4)
                self.assertIsNotNone(self.sim.wait_frame(0x53, from_seq=seq))
                received.clear()
                self.assertTrue(received.wait(5))
            b.on_frame(None)
            with open(path) as f:
                lines = f.read().splitlines()
        self.assertTrue(any(" -> FE " in line for line in lines), lines)
        self.assertTrue(any(" <- FE " in line for line in lines), lines)

    def test_the_version_is_the_librarys(self):
        major, minor, patch = (int(x) for x in voxa.__version__.split("."))
        self.assertRegex(voxa.dll_version(), rf"V0*{major}-R0*{minor}\.0*{patch}$")


@unittest.skipUnless(hasattr(voxa.voxa_library(), "VOXA_Set_StateHandler"), "the library has no state handler")
class RecordTest(SimTestCase):
    def test_a_recording_follows_a_move_and_restores_the_state_packets(self):
        sim, b = self.open_sim()
        before = b.reg_word("CHIPSET", 0), b.reg_word("CHIPSET", 1)
        b.line({0: 20000}, cmd_id=1)
        rec = b.record(["position", "velocity"], seconds=0.6, axes=[0])
        self.assertEqual(rec.columns, ["time_s", "pos0", "vel0"])
        self.assertGreaterEqual(len(rec), 5, rec.rows())
        self.assertEqual(rec["time"][0], 0.0)
        self.assertEqual(rec["time"], sorted(rec["time"]))
        self.assertEqual(rec["position0"], sorted(rec["position0"]), "the axis only moves on")
        self.assertGreater(rec["position0"][-1], rec["position0"][0])
        self.assertGreater(max(rec["velocity0"]), 0)
        self.assertEqual((b.reg_word("CHIPSET", 0), b.reg_word("CHIPSET", 1)), before)
        b.stop()
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "rec.csv")
            rec.to_csv(path)
            with open(path, "rb") as f:
                data = f.read()
        self.assertNotIn(b"\r", data)
        lines = data.decode().splitlines()
        self.assertEqual(lines[0], "time_s,pos0,vel0")
        self.assertEqual(lines[1], f"0.000000,{rec['pos0'][0]},{rec['vel0'][0]}")
        self.assertEqual(len(lines), len(rec) + 1)
        with self.assertRaises(ValueError):
            b.record("torque", 0.1)

    def test_a_recording_asks_no_more_of_a_board_than_live_source_names(self):
        sim, b = self.open_sim()
        members = [n for n in vars(voxa.live.LiveSource) if not n.startswith("_")]
        self.assertEqual(sorted(members), ["call", "closed", "id", "immediate", "queued", "reg_word"])

        class Source:
            """The board's LiveSource members and nothing else."""
            __slots__ = ()

            def __getattr__(self, name):
                if name not in members:
                    raise AttributeError(name)
                return getattr(b, name)

        before = b.reg_word("CHIPSET", 0)
        b.line({0: 20000}, cmd_id=1)
        rec = voxa.live.record(Source(), "position", 0.3, [0], 25)
        self.assertGreater(len(rec), 0)
        self.assertEqual(b.reg_word("CHIPSET", 0), before)
        b.stop()


VOXACTL = os.environ.get("VOXACTL") or os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), "build", "tools", "voxactl", "voxactl")


@unittest.skipUnless(os.access(VOXACTL, os.X_OK), f"no voxactl at {VOXACTL} (set VOXACTL)")
class RecordingFormatTest(SimTestCase):
    """Python's recordings and voxactl's are one format."""

    def moving_board(self):
        sim, b = self.open_sim()
        b.set_velocity(drive=2000)
        b.line({0: 10 ** 6}, cmd_id=1)
        self.addCleanup(lambda: b.closed or b.stop(immediate=True))
        return sim, b

    def test_python_and_voxactl_record_one_move_at_the_same_velocity(self):
        sim, b = self.moving_board()
        rec = b.record("velocity", seconds=0.5, axes=[0])
        self.assertAlmostEqual(rec["time_s"][-1] / (len(rec) - 1), 0.025, delta=0.006,
                               msg="the default period is voxactl's, 25 ms")
        b.close()  # the move goes on; voxactl takes the board over
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "voxactl.csv")
            subprocess.run([VOXACTL, "--tcp", f"127.0.0.1:{sim.port}", "record", "--signals", "vel", "--axes", "0",
                            "--duration", "0.3", "--csv", path], check=True, capture_output=True, timeout=30)
            with open(path) as f:
                lines = f.read().splitlines()
        self.assertEqual(lines[0], ",".join(rec.columns))
        theirs = {int(line.split(",")[1]) for line in lines[1:]}
        self.assertEqual(theirs, {2000})
        self.assertEqual(rec["vel0"][-1], 2000, rec["vel0"])

    def test_voxactl_plots_a_python_recording(self):
        sim, b = self.moving_board()
        rec = b.record(["position", "velocity", "chipstatus"], seconds=0.3, axes=[0, 1])
        with tempfile.TemporaryDirectory() as d:
            csv_path, svg_path = os.path.join(d, "rec.csv"), os.path.join(d, "rec.svg")
            rec.to_csv(csv_path)
            out = subprocess.run([VOXACTL, "plot", csv_path, "--svg", svg_path], capture_output=True, text=True,
                                 timeout=30)
            self.assertEqual(out.returncode, 0, out.stderr)
            with open(svg_path) as f:
                svg = f.read()
        for series in ("pos0", "pos1", "vel0", "vel1"):
            self.assertIn(f'data-series="{series}"', svg)


class LoggingTest(SimTestCase):
    def test_the_librarys_lines_and_link_changes_go_to_the_log(self):
        sim, b = self.open_sim()
        records = []
        seen = threading.Event()

        class Collect(logging.Handler):
            def emit(self, record):
                records.append(record)
                if "link" in record.getMessage():
                    seen.set()

        logger = logging.getLogger("voxa")
        handler = Collect(logging.INFO)
        logger.addHandler(handler)
        old_level = logger.level
        logger.setLevel(logging.INFO)
        self.addCleanup(logger.setLevel, old_level)
        self.addCleanup(logger.removeHandler, handler)
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "board.ini")
            b.save_config(path)
            stdout = io.StringIO()
            with contextlib.redirect_stdout(stdout):
                b.load_config(path)
        self.assertIn("ok...file exist", [r.getMessage().split(": ", 1)[-1] for r in records])
        sim.drop_connection()
        self.assertTrue(seen.wait(5), [r.getMessage() for r in records])
        link = [r for r in records if "link" in r.getMessage()][0]
        self.assertIn(f"board {b.id}: link", link.getMessage())
        self.assertEqual(link.threadName, "voxa-dispatch", "the library's thread has its name in Python")


class SafeOperationTest(SimTestCase):
    """Resets, stops, refused opens, cut recordings, interrupted waits and
    callbacks that raise: each ends in a state the caller is told about."""

    def test_a_reset_right_after_the_open_drops_queued_motion_and_keeps_completion_reports(self):
        sim = voxa.SimBoard()
        self.addCleanup(sim.stop)
        sim.hold_queue(True)
        b = sim.open()
        self.addCleanup(b.close)
        b.cmove({0: 3000}, cmd_id=1)
        with self.assertLogs("voxa", "INFO") as logged:
            dropped = b.reset()
        self.assertGreaterEqual(dropped, 1)
        self.assertIn("queues were cleared", "\n".join(logged.output))
        sim.hold_queue(False)
        b.set_velocity(start=100, drive=8000, acc=50, dec=50)
        b.cmove({1: 200}, cmd_id=2)
        self.assertEqual(b.wait_motion(2, 5).status, "complete")
        self.assertEqual((sim.position(0), sim.position(1)), (0, 200))

    def test_a_line_a_stop_ended_is_stopped_by_the_host_not_complete(self):
        sim, b = self.open_sim()
        b.set_velocity(drive=2000)
        b.line({0: 100000}, cmd_id=1)
        time.sleep(0.2)
        b.stop()
        result = b.wait_motion(1, 5)
        self.assertEqual((bool(result), result.status, result.reason), (False, "stopped", "host stop"))
        self.assertLess(b.cur_pos(0), 100000)
        b.cmove({0: 0}, cmd_id=2)
        self.assertEqual(b.wait_motion(2, 5).status, "complete", "the next command is judged on its own")

    def test_no_motion_under_an_emergency_stop_until_reset(self):
        sim, b = self.open_sim()
        b.estop()
        for _ in range(50):  # the board reports it within a tick or two
            if b.refresh() and b.is_estop:
                break
        self.assertTrue(b.is_estop)
        frames = sim.frame_count
        for move in (lambda: b.line({0: 500}), lambda: b.cmove({1: 500}), lambda: b.imove({2: 500}),
                     lambda: b.home([3]), lambda: b.spindle([4], 1000),
                     lambda: b.arc_cw({0: 100, 1: 0}, {0: 200, 1: 0})):
            with self.assertRaises(voxa.MotionRefused) as e:
                move()
            self.assertEqual(e.exception.reason, "estop")
        self.assertIn("emergency stop", str(e.exception))
        b.spindle([4], 0)  # a stop is never refused
        self.assertTrue(b.refresh())
        sent = [sim.frame(n)["code"] for n in range(frames, sim.frame_count)]
        self.assertNotIn(0x5B, sent, "no line reached the board")
        b.reset()
        b.alarm_reset()
        self.assertTrue(b.refresh())
        b.cmove({1: 300}, cmd_id=3)
        self.assertEqual(b.wait_motion(3, 5).status, "complete")
        self.assertEqual([sim.position(a) for a in range(5)], [0, 300, 0, 0, 0])

    def test_a_refused_open_says_why(self):
        with self.assertRaises(voxa.LinkError) as e:
            voxa.Board.tcp("127.0.0.1", free_port())
        self.assertEqual((e.exception.kind, e.exception.os_error, e.exception.errno),
                         ("system", errno.ECONNREFUSED, errno.ECONNREFUSED))
        # A board that serves another host takes the connection and closes it.
        server = socket.create_server(("127.0.0.1", 0))
        self.addCleanup(server.close)
        server.settimeout(0.1)

        def turn_away():
            while server.fileno() >= 0:
                with contextlib.suppress(OSError):
                    server.accept()[0].close()

        threading.Thread(target=turn_away, daemon=True).start()
        with self.assertLogs("voxa", "INFO") as logged, self.assertRaises(voxa.LinkError) as e:
            voxa.Board.tcp("127.0.0.1", server.getsockname()[1])
        self.assertEqual((e.exception.code, e.exception.kind), (voxa.ERR_OPEN, "held"))
        self.assertIn("held by another host", e.exception.text)
        self.assertIn("held by another host", str(e.exception))
        self.assertIn("WARNING:voxa:board 0: open failed: the board at", logged.output[0])
        with self.assertLogs("voxa", "WARNING") as logged:
            voxa.live.handlers._on_link(1, 2, 7, 0)  # a reconnecting link turned away
        self.assertEqual(logged.output, ["WARNING:voxa:board 1: link reconnecting (held by another host)"])

    def test_a_recording_the_links_loss_cut_short_says_so(self):
        sim, b = self.open_sim()
        b.line({0: 20000}, cmd_id=1)
        timer = threading.Timer(0.3, sim.drop_connection)
        timer.start()
        self.addCleanup(timer.cancel)
        start = time.monotonic()
        with self.assertLogs("voxa", "WARNING") as logged:
            rec = b.record("position", seconds=5, axes=[0])
        self.assertLess(time.monotonic() - start, 2)
        self.assertTrue(rec.cut_short)
        self.assertIsNotNone(rec.cut_reason)
        self.assertLess(rec.duration, 2)
        self.assertGreater(len(rec), 0)
        self.assertTrue(any("cut short" in line for line in logged.output), logged.output)

    def test_ctrl_c_ends_a_wait_without_a_timeout(self):
        sim, b = self.open_sim()
        sim.hold_queue(True)
        b.cmove({0: 100}, cmd_id=1)
        interrupt = threading.Timer(0.2, os.kill, (os.getpid(), signal.SIGINT))
        watchdog = threading.Timer(3, b.close)  # a wait deaf to Ctrl-C would never end otherwise
        for t in (interrupt, watchdog):
            t.start()
            self.addCleanup(t.cancel)
        start = time.monotonic()
        with self.assertRaises(KeyboardInterrupt):
            b.wait_motion(voxa.ANY_ID)
        self.assertLess(time.monotonic() - start, 1.5)

    def test_a_report_between_two_slices_of_a_wait_is_not_lost(self):
        sim, b = self.open_sim()
        real = b._lib

        class Lib:
            """The first slice times out just before the board reports."""
            slices = 0

            def __getattr__(self, name):
                return getattr(real, name)

            def VOXA_WaitMotion(self, cmd_id, ms):
                self.slices += 1
                if self.slices > 1:
                    return real.VOXA_WaitMotion(cmd_id, ms)
                count = real.VOXA_Get_CompleteStatePacketCount()
                sim.hold_queue(False)
                for _ in range(500):
                    if real.VOXA_Get_CompleteStatePacketCount() != count:
                        break
                    time.sleep(0.01)
                return 0

        for k, cmd_id in enumerate((voxa.ANY_ID, 5), start=1):
            with self.subTest(cmd_id=cmd_id):
                sim.hold_queue(True)
                b.cmove({0: 100 * k}, cmd_id=5)
                b._lib = Lib()
                try:
                    result = b.wait_motion(cmd_id, timeout=2)
                finally:
                    b._lib = real
                self.assertEqual(result.status, "complete")

    def test_a_callback_that_raises_system_exit_leaves_the_callbacks_running(self):
        sim, b = self.open_sim()
        seen = []
        done = threading.Event()

        def on_complete(cmd_id):
            seen.append(cmd_id)
            if cmd_id == 1:
                raise SystemExit(1)
            if cmd_id == 2:
                raise KeyboardInterrupt
            done.set()

        b.on_complete(on_complete)
        with self.assertLogs("voxa", "ERROR") as logged:
            for k in (1, 2, 3):
                b.cmove({0: 100 * k}, cmd_id=k)
            self.assertTrue(done.wait(5))
        self.assertEqual(seen, [1, 2, 3])
        self.assertEqual(len(logged.output), 2)
