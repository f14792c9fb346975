#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The Merovask filter from pyvisa, through merovask-scpi: tune, read the wavelength back, read the error
queue and, given a table file, load a calibration table (the server must run with --engineering).

    python3 scpi_pyvisa.py TCPIP0::lab-pc::5025::SOCKET [TABLE]

Needs pyvisa and its pure-Python backend (Debian: python3-pyvisa python3-pyvisa-py).
"""
import sys

import pyvisa


def errors(instrument):
    """The error queue, read to its end."""
    found = []
    while True:
        entry = instrument.query("SYST:ERR?")
        if entry.startswith("0,"):
            return found
        found.append(entry)


def main():
    resource = sys.argv[1] if len(sys.argv) > 1 else "TCPIP0::127.0.0.1::5025::SOCKET"
    visa = pyvisa.ResourceManager("@py")
    # A raw socket has no end of message of its own: every message and answer ends with a line feed.
    filt = visa.open_resource(resource, read_termination="\n", write_termination="\n", timeout=5000)
    print("identity:", filt.query("*IDN?"))

    filt.write("WAV 1550")
    print("wavelength:", filt.query("WAV?"))
    # Beyond the range: the filter is tuned to its end, and the error queue says so.
    filt.write("WAV 1600NM")
    print("wavelength:", filt.query("WAV?"))
    print("frequency:", filt.query("FREQ?"), "THz")
    for entry in errors(filt):
        print("error:", entry)

    if len(sys.argv) > 2:
        with open(sys.argv[2], "rb") as table:
            rows = table.read()
        # The file's bytes as they are, in an IEEE 488.2 block; a 100-row table takes 10.6 s to load, and
        # *OPC? answers once it has.
        filt.write_binary_values("CAL:DATA ", list(rows), datatype="B")
        filt.timeout = 30000
        filt.query("*OPC?")
        problems = errors(filt)
        print("upload:", "; ".join(problems) if problems else "done")
        print("range:", filt.query("WAV? MIN;WAV? MAX"))
        print("calibration date:", filt.query("CAL:DATE?"))
    filt.close()


if __name__ == "__main__":
    main()
