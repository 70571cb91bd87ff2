#!/usr/bin/env python3
"""A program that uses a serial device as programs do, for the watch's walk:
   watch_walk.py DEVICE MASTER-FD
DEVICE is a pty's slave; MASTER-FD (inherited) its master, the far end that
answers. Prints nothing; exits 0 once every step was done."""
import fcntl, os, struct, sys, termios, time

device, master = sys.argv[1], int(sys.argv[2])
TCGETS2, TCSETS2, BOTHER = 0x802C542A, 0x402C542B, 0o010000
TIOCMBIS, TIOCM_DTR = 0x5416, 0x002


def settle():
    time.sleep(0.05)


def set_speed(fd, speed, cflag_on=0, cflag_off=0):
    attributes = termios.tcgetattr(fd)
    attributes[0] = attributes[1] = attributes[3] = 0  # raw
    attributes[2] = (attributes[2] & ~(termios.CSIZE | cflag_off)) | cflag_on
    attributes[4] = attributes[5] = speed
    termios.tcsetattr(fd, termios.TCSANOW, attributes)


def custom_speed(fd, speed):
    raw = bytearray(fcntl.ioctl(fd, TCGETS2, bytes(44)))
    flags = list(struct.unpack_from("4I", raw))
    flags[2] = (flags[2] & ~termios.CBAUD) | BOTHER
    struct.pack_into("4I", raw, 0, *flags)
    struct.pack_into("2I", raw, 36, speed, speed)
    fcntl.ioctl(fd, TCSETS2, bytes(raw))


def answer(text):
    os.write(master, text)
    settle()


fd = os.open(device, os.O_RDWR | os.O_NOCTTY)
set_speed(fd, termios.B9600, termios.CS8, termios.PARENB | termios.CSTOPB | termios.CRTSCTS)
set_speed(fd, termios.B57600, termios.CS7 | termios.PARENB | termios.CRTSCTS)
custom_speed(fd, 250000)
os.write(fd, b"AT\r")
answer(b"OK\r\n")
assert os.read(fd, 64) == b"OK\r\n"
os.writev(fd, [b"AT", b"", b"I3\r"])
answer(b"Modem 3\r\n")
first, second = bytearray(6), bytearray(16)
assert os.readv(fd, [first, second]) == 9
try:
    fcntl.ioctl(fd, TIOCMBIS, struct.pack("I", TIOCM_DTR))
except OSError:
    pass  # a pty has no modem lines: the pane shows the refusal
termios.tcsendbreak(fd, 0)
termios.tcflush(fd, termios.TCIOFLUSH)
child = os.fork()
if child == 0:
    os.write(fd, b"child")
    os._exit(0)
os.waitpid(child, 0)
duplicate = os.dup(fd)
above = fcntl.fcntl(fd, fcntl.F_DUPFD, 50)
os.write(above, b"dup")
os.close(duplicate)
os.close(above)
# exec: one child keeps the descriptor (inheritable) and writes after its
# exec; another holds only a close-on-exec one, which its exec closes.
def run(program, *arguments):
    child = os.fork()
    if child == 0:
        os.execv(program, [program, *arguments])
    os.waitpid(child, 0)


os.set_inheritable(fd, True)
run(sys.executable, "-c", f"import os; os.write({fd}, b'exec')")
os.set_inheritable(fd, False)
run("/bin/true")
os.close(fd)
settle()
# Open, write at once, close: 50 times.
for n in range(50):
    quick = os.open(device, os.O_RDWR | os.O_NOCTTY)
    os.write(quick, b"%02d" % n)
    os.close(quick)
settle()
