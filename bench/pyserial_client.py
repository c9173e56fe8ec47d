"""Round trips to the simulated module through pySerial, for varnox_bench.

    python3 -I pyserial_client.py DEVICE

Opens DEVICE at 9600 baud, 8 data bits, even parity, one stop bit, then
takes requests on standard input, one a line:

    run COUNT   COUNT round trips (write b"i\\r", read the 4-byte answer);
                answers "ok NS NS ..." with the nanoseconds of each
    quit        closes the port and ends

The first line written is "ready VERSION" once the port is open. Any problem
is answered with one line "fail WHAT HAPPENED; WHAT TO DO" and the client
ends.
"""
import sys
import time


def main():
    try:
        import serial
    except ImportError as error:
        print("fail cannot import pySerial (%s); install python3-serial" % error, flush=True)
        return 1
    try:
        port = serial.Serial(sys.argv[1], baudrate=9600, bytesize=serial.EIGHTBITS,
                             parity=serial.PARITY_EVEN, stopbits=serial.STOPBITS_ONE,
                             timeout=3.0)
    except (serial.SerialException, OSError, ValueError) as error:
        print("fail pySerial cannot open %s: %s" % (sys.argv[1], error), flush=True)
        return 1
    print("ready", serial.__version__, flush=True)

    clock = time.perf_counter_ns
    for line in sys.stdin:
        words = line.split()
        if not words or words[0] == "quit":
            break
        count = int(words[1])
        times = []
        for _ in range(count):
            start = clock()
            port.write(b"i\r")
            reply = port.read(4)
            end = clock()
            if len(reply) != 4 or reply[:1] != b"I" or reply[3:] != b"\r":
                print("fail pySerial got %r instead of an input report; check the simulator"
                      % reply, flush=True)
                return 1
            times.append(end - start)
        print("ok", " ".join(str(ns) for ns in times), flush=True)
    port.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
