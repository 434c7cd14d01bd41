"""A Board's settings and what it reports besides motion: axis output and
limits, velocity profile, positions, home return, servo and I/O,
comparators, PID controllers, alarms, capture, the configuration file and
the register image."""

import ctypes
import os
from typing import Dict, List, Optional

from ._base import BoardCalls
from ._checks import Axes, PathLike, Register, _axis, _index, _int32, _mask, _u16, reg_number
from .errors import VoxaError


class BoardSettings(BoardCalls):
    """Settings, I/O and the register image of a Board."""

    # ------------------------------------------------------------ axis output and limits

    def set_pulse_mode(self, axes: Axes, mode: int) -> None:
        """The pulse output mode (0..2) of the axes."""
        self._call("VOXA_Set_PulseMode", _mask(axes), _index(mode, "mode"))

    def pulse_mode(self, axis: int) -> int:
        """The axis's pulse output mode, 0..2."""
        return self._int("VOXA_Get_PulseMode", 1 << _axis(axis))

    def enable_limits(self, axes: Axes, lower: bool = True, upper: bool = True) -> None:
        """Switches the hardware limit inputs of the axes on or off."""
        m = _mask(axes)
        with self._lock:
            self._call("VOXA_Enable_LowerLimit", m, 1 if lower else 0)
            self._call("VOXA_Enable_UpperLimit", m, 1 if upper else 0)

    def set_soft_limits(self, axes: Axes, lower: Optional[int] = None, upper: Optional[int] = None) -> None:
        """Soft limits of the axes in pulses; None switches that side off."""
        m = _mask(axes)
        with self._lock:
            for value, setter, enable in ((lower, "VOXA_Set_SoftLowerLimit", "VOXA_Enable_SoftLowerLimit"),
                                          (upper, "VOXA_Set_SoftUpperLimit", "VOXA_Enable_SoftUpperLimit")):
                if value is not None:
                    self._call(setter, m, _int32(value, "soft limit"))
                self._call(enable, m, 0 if value is None else 1)

    def limits(self, axis: int) -> Dict[str, bool]:
        """{"lower", "upper", "soft_lower", "soft_upper", "alarm"}: the axis's
        limit and alarm states as the board last reported them."""
        m = 1 << _axis(axis)
        with self._lock:
            return {
                "lower": bool(self._call("VOXA_Is_LimitL", m)),
                "upper": bool(self._call("VOXA_Is_LimitH", m)),
                "soft_lower": bool(self._call("VOXA_Is_SoftLimitL", m)),
                "soft_upper": bool(self._call("VOXA_Is_SoftLimitH", m)),
                "alarm": bool(self._call("VOXA_Is_AlarmAxis", m)),
            }

    # ------------------------------------------------------------ velocity profile

    def set_velocity(self, start: Optional[int] = None, drive: Optional[int] = None, acc: Optional[int] = None,
                     dec: Optional[int] = None, axes: Optional[Axes] = None) -> None:
        """Start and drive velocity, acceleration and deceleration (16-bit
        values): board-wide, or for the given axes."""
        with self._lock:
            for value, name in ((start, "StartVel"), (drive, "DriveVel"), (acc, "Acc"), (dec, "Dec")):
                if value is None:
                    continue
                v = _u16(value, name)
                if axes is None:
                    self._call(f"VOXA_Set_{name}", v)
                else:
                    self._call(f"VOXA_Set_{name}Axis", _mask(axes), v)

    def velocity_profile(self, axis: Optional[int] = None) -> Dict[str, int]:
        """{"start", "drive", "acc", "dec"}: board-wide, or of one axis."""
        with self._lock:
            if axis is None:
                return {k: self._call(f"VOXA_Get_{n}") for k, n in
                        (("start", "StartVel"), ("drive", "DriveVel"), ("acc", "Acc"), ("dec", "Dec"))}
            m = 1 << _axis(axis)
            return {k: self._call(f"VOXA_Get_{n}Axis", m) for k, n in
                    (("start", "StartVel"), ("drive", "DriveVel"), ("acc", "Acc"), ("dec", "Dec"))}

    def cur_vel(self, axis: int) -> int:
        """The axis's velocity as the board last reported it."""
        return self._int("VOXA_Get_CurVelAxis", 1 << _axis(axis))

    # ------------------------------------------------------------ positions

    def cur_pos(self, axis: int) -> int:
        """The axis's position, pulses, as the board last reported it."""
        return self._int("VOXA_Get_CurPos", 1 << _axis(axis))

    def set_cur_pos(self, axes: Axes, position: int) -> None:
        """Sets the command position of the axes, in pulses."""
        self._call("VOXA_Set_CurPos", _mask(axes), _int32(position, "position"))

    def enc_pos(self, axis: int) -> int:
        """The axis's encoder position as the board last reported it."""
        return self._int("VOXA_Get_EncPos", 1 << _axis(axis))

    def set_enc_pos(self, axes: Axes, position: int) -> None:
        """Sets the encoder position of the axes, in pulses."""
        self._call("VOXA_Set_EncPos", _mask(axes), _int32(position, "position"))

    # ------------------------------------------------------------ home return configuration

    def set_home(self, axes: Axes, mode: Optional[int] = None, direction: Optional[int] = None,
                 seek_vel: Optional[int] = None, offset: Optional[int] = None,
                 sensor_level: Optional[int] = None) -> None:
        """Home return settings of the axes; None leaves a setting alone."""
        m = _mask(axes)
        with self._lock:
            if mode is not None:
                self._call("VOXA_Set_HomeMode", m, _index(mode, "mode"))
            if direction is not None:
                self._call("VOXA_Set_HomeDir", m, _index(direction, "direction"))
            if seek_vel is not None:
                self._call("VOXA_Set_HomeSeekVel", m, _u16(seek_vel, "seek velocity"))
            if offset is not None:
                self._call("VOXA_Set_HomeSeekOffsetPulse", m, _int32(offset, "offset"))
            if sensor_level is not None:
                self._call("VOXA_Set_HomeSensorLevel", m, _index(sensor_level, "level"))

    def is_home_sensor(self, axis: int) -> bool:
        """The axis's home sensor is active, as last reported."""
        return bool(self._call("VOXA_Is_HomeSensor", 1 << _axis(axis)))

    # ------------------------------------------------------------ servo, general-purpose and extension I/O

    def servo_on(self, axes: Axes, on: bool = True) -> None:
        """Switches the servo-on output of the axes on or off."""
        self._call("VOXA_Set_ServoOn", _mask(axes), 1 if on else 0)

    def is_servo_on(self, axis: int) -> bool:
        """The axis's servo-on output is on."""
        return bool(self._call("VOXA_Is_ServoOn", 1 << _axis(axis)))

    def is_servo_alarm(self, axis: int) -> bool:
        """The axis's servo drive reports an alarm, as last reported."""
        return bool(self._call("VOXA_Is_ServoAlarm", 1 << _axis(axis)))

    @property
    def gin(self) -> int:
        """The general-purpose inputs as the board last reported them."""
        return self._int("VOXA_Get_GIn") & 0xFFFFFFFF

    @property
    def gout(self) -> int:
        """The general-purpose outputs, a 32-bit word (bit n: output n), as
        last set or reported; assigning writes the whole word at once."""
        return self._int("VOXA_Get_GOut") & 0xFFFFFFFF

    @gout.setter
    def gout(self, value: int) -> None:
        self._call("VOXA_Set_GOut", ctypes.c_int32(_index(value, "outputs") & 0xFFFFFFFF).value)

    def set_gout_bits(self, bits: int, cmd_id: Optional[int] = None) -> None:
        """Sets output bits, in the board's command stream."""
        self._command("VOXA_SetBit_GOut", ctypes.c_int32(_index(bits, "bits") & 0xFFFFFFFF).value, cmd_id=cmd_id)

    def clear_gout_bits(self, bits: int, cmd_id: Optional[int] = None) -> None:
        """Clears output bits (a 32-bit mask), in the board's command stream."""
        self._command("VOXA_ClrBit_GOut", ctypes.c_int32(_index(bits, "bits") & 0xFFFFFFFF).value, cmd_id=cmd_id)

    def adc(self, channel: int) -> int:
        """Analogue input channel 0..3 as last reported: 0..65535 (the
        converter's full range)."""
        return self._int("VOXA_Get_ADC", _index(channel, "channel"))

    def ext_io(self, word: int) -> int:
        """Word 0..7 of the extension I/O (32 bits; 0..3 as last reported)."""
        return self._int("VOXA_Get_ExtIO", _index(word, "word")) & 0xFFFFFFFF

    def set_ext_io(self, word: int, value: int) -> None:
        """Writes word 0..7 of the extension I/O (32 bits)."""
        self._call("VOXA_Set_ExtIO", _index(word, "word"), ctypes.c_int32(_index(value, "value") & 0xFFFFFFFF).value)

    # ------------------------------------------------------------ comparators, PID, alarms, capture

    def enable_comparator(self, channel: int, on: bool = True) -> None:
        """Switches position comparator channel 0..3 on or off; its events
        reach on_comparator()."""
        self._call("VOXA_Enable_Comparator", _index(channel, "channel"), 1 if on else 0)

    def run_pid(self, pid: int) -> None:
        """Starts PID controller 0..3."""
        self._call("VOXA_Run_PID", _index(pid, "PID controller"))

    def off_pid(self, pid: int) -> None:
        """Switches PID controller 0..3 off."""
        self._call("VOXA_Off_PID", _index(pid, "PID controller"))

    def reset_pid(self, pid: int) -> None:
        """Resets PID controller 0..3."""
        self._call("VOXA_Reset_PID", _index(pid, "PID controller"))

    @property
    def alarm(self) -> int:
        """The board's alarm code (0: none)."""
        return self._int("VOXA_Get_Alarm") & 0xFFFFFFFF

    @property
    def capture_count(self) -> int:
        """How many entries the capture ring holds (0..10000)."""
        return self._int("VOXA_Get_CaptureCnt")

    def capture(self, index: int, word: int) -> int:
        """Word 0..7 of capture entry index (-1: the newest)."""
        return self._int("VOXA_Get_Capture", _index(index, "index"), _index(word, "word"))

    # ------------------------------------------------------------ configuration file

    def save_config(self, path: PathLike) -> None:
        """Saves the board's configuration to a file (keeping the file's
        other sections)."""
        self._call("VOXA_Save_ConfigFile", os.fsencode(path))

    def load_config(self, path: PathLike) -> None:
        """Loads a configuration file onto the board (about half a second)."""
        with self._lock:
            if not self._call("VOXA_Load_ConfigFile", os.fsencode(path)):
                raise FileNotFoundError(2, "no such configuration file", os.fsdecode(path))

    # ------------------------------------------------------------ register image

    def reg_word(self, reg: Register, word: int) -> int:
        """Word 0..7 of register reg (number or name) of the register image."""
        value = ctypes.c_uint32()
        self._call("VOXA_Get_RegWord", reg_number(reg), _index(word, "word"), ctypes.byref(value))
        return value.value

    def set_reg_word(self, reg: Register, word: int, value: int) -> None:
        """Sets a word of the register image and writes it to the board."""
        self._call("VOXA_Set_RegWord", reg_number(reg), _index(word, "word"), _index(value, "value") & 0xFFFFFFFF)

    def registers(self) -> List[List[int]]:
        """The whole register image: 32 lists of eight words, one snapshot."""
        value = ctypes.c_uint32()
        ref = ctypes.byref(value)
        with self._lock:
            self._select()
            out = []
            for r in range(32):
                words = []
                for w in range(8):
                    if not self._lib.VOXA_Get_RegWord(r, w, ref):
                        raise VoxaError(self._lib.VOXA_Get_LastErr(), "VOXA_Get_RegWord")
                    words.append(value.value)
                out.append(words)
            return out
