#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""A PyMeasure instrument class for the Merovask filter served by merovask-scpi.

    from scpi_pymeasure import MerovaskFilter

    filt = MerovaskFilter("TCPIP0::lab-pc::5025::SOCKET")
    filt.wavelength = 1550
    filt.wait()
    print(filt.wavelength, filt.frequency, filt.errors())

Needs PyMeasure with pyvisa and pyvisa-py (Debian: python3-pymeasure python3-pyvisa-py).
"""
from pymeasure.instruments import Instrument
from pymeasure.instruments.validators import strict_discrete_set, strict_range


class MerovaskFilter(Instrument):
    """The Merovask motor-driven tunable optical filter, through merovask-scpi.

    Values beyond the filter's range are limited by the server as the operator's panel limits them; the
    error queue (:meth:`errors`) says what went out. Commands return at once; :meth:`wait` returns once
    every command sent before it has ended.
    """

    wavelength = Instrument.control(
        "WAV?", "WAV %d",
        """The wavelength in whole nanometres: the one last sent (9.91e37 before the first).""",
    )
    frequency = Instrument.control(
        "FREQ?", "FREQ %g",
        """The frequency in THz of the wavelength in force. A frequency set is tuned to the nearest
        whole nanometre.""",
    )
    step = Instrument.control(
        "WAV:STEP?", "WAV:STEP %d",
        """The nanometres of :meth:`step_up` and :meth:`step_down`, 1 to 30.""",
        validator=strict_range, values=[1, 30],
    )
    channel = Instrument.control(
        "ROUT?", "ROUT %d",
        """The output of the 1x4 optical switch, 1 to 4.""",
        validator=strict_discrete_set, values=[1, 2, 3, 4],
    )
    sweep_start = Instrument.control("WAV:SWE:STAR?", "WAV:SWE:STAR %d", """The scan's first wavelength in nm.""")
    sweep_stop = Instrument.control("WAV:SWE:STOP?", "WAV:SWE:STOP %d", """The scan's last wavelength in nm.""")
    sweep_dwell = Instrument.control(
        "WAV:SWE:DWEL?", "WAV:SWE:DWEL %g",
        """The time at each wavelength of the scan in seconds, 0.1 to 30 in steps of 0.1.""",
        validator=strict_range, values=[0.1, 30],
    )
    sweep_step = Instrument.control(
        "WAV:SWE:STEP?", "WAV:SWE:STEP %d",
        """The scan's step (the device's span), 1 to 30.""",
        validator=strict_range, values=[1, 30],
    )
    calibration_date = Instrument.measurement(
        "CAL:DATE?",
        """The date stamp of the device's calibration: year, month, day, hour, minute.""",
        cast=int,
    )

    def __init__(self, adapter, name="Merovask tunable filter", **kwargs):
        # One line per message each way; a scan's set-up takes 1 s, a 100-row upload 10.6 s.
        kwargs.setdefault("read_termination", "\n")
        kwargs.setdefault("write_termination", "\n")
        kwargs.setdefault("timeout", 15000)
        super().__init__(adapter, name, **kwargs)

    def step_up(self):
        self.write("WAV UP")

    def step_down(self):
        self.write("WAV DOWN")

    def start_sweep(self):
        """Sends the scan's start, stop and dwell, then starts it with its step."""
        self.write("WAV:SWE")

    def wait(self):
        self.ask("*OPC?")

    def errors(self):
        """The error queue, read to its end: a list of (number, text)."""
        found = []
        while True:
            number, text = self.ask("SYST:ERR?").split(",", 1)
            if int(number) == 0:
                return found
            found.append((int(number), text.strip('"')))
