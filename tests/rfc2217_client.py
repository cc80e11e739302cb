"""pyserial's RFC 2217 client on a tolvane --share rfc2217: port, for
tests/e2e_share_rfc2217_test.cpp: each step says what it saw on a line of
its own, and waits for the test's go (a line on stdin) where the test must
look at the board's side first.

usage: python3 rfc2217_client.py PORT
"""
import sys

import serial


def say(*words):
    print(*words, flush=True)


def step():
    sys.stdin.readline()


port = serial.serial_for_url("rfc2217://127.0.0.1:" + sys.argv[1], baudrate=57600, timeout=3)
say("open")
step()
say("read " + "".join("%02X " % b for b in port.read_until(b"board\n")))
port.write(b"key\xff")
port.flush()
# Answered at once, or pyserial gives up after its time-out.
port.reset_input_buffer()
port.reset_output_buffer()
say("purged")
port.baudrate = 9600
port.stopbits = 2
say("set")
step()
port.send_break(0.05)
port.dtr = False
say("cts", port.cts)
port.close()
say("done")
