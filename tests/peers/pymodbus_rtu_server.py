#!/usr/bin/python3
"""A standard Modbus RTU server from Debian's python3-pymodbus, on a pseudo-terminal.

It stands for an inverter that we did not write. pymodbus opens one pseudo-terminal by name;
a second one is put on COM<n> through the link <ports-dir>/COM<n>, and the two masters are
joined by a relay, so the program on COM<n> talks to pymodbus as over a cable.

Register numbers are the program's own: input registers 1..81 (wire address n - 1, function 4)
and holding registers 301..361 (wire address n - 301, functions 3 and 16). Coils 1 and 2 are
wire addresses 0 and 1. The context answers any slave address, the 0xFF probe included.

Prints "READY <link> -> <terminal>" when serving; exits cleanly on SIGTERM or SIGINT.
Run with /usr/bin/python3: Debian's packages are not visible to other interpreters.
"""

import argparse
import asyncio
import logging
import os
import signal
import sys
import termios
import tty

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server.async_io import StartAsyncSerialServer
from pymodbus.transaction import ModbusRtuFramer

INPUT_COUNT = 81
HOLDING_FIRST, HOLDING_LAST = 301, 361

# A plausible live record at noon (registers 11..41) for a 5 kW inverter with firmware V5.00:
# DC 350.0 V, AC 230.0 V, 50.00 Hz, 4200 W, 12.3 kWh today, 12345.6 kWh in total, 300 min
# today, 4321 h in total, 45.0 degrees, zero shift 2048, DCI -3 mA, no faults, inverting.
LIVE_RECORD = {
    11: 3500, 15: 2300, 21: 5000, 22: 0, 23: 4200, 24: 123, 25: 1, 26: 57920,
    27: 0, 28: 300, 29: 0, 30: 4321, 31: 450, 32: 2048, 35: 0xFFFD,
    39: 0, 40: 0, 41: 1,
}


def serial_words(digits):
    """Registers 1..3 (and 301..303): the twelve digits as packed BCD, four per register."""
    return [int(digits[i:i + 4], 16) for i in (0, 4, 8)]


def register_value(text):
    number, _, value = text.partition("=")
    if not value:
        raise argparse.ArgumentTypeError("expected REG=VALUE, got " + text)
    reg, val = int(number, 0), int(value, 0)
    if not 0 <= val <= 0xFFFF:
        raise argparse.ArgumentTypeError("value out of 16 bits: " + text)
    return reg, val


def parse_args(argv):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--ports-dir", required=True, help="folder that receives the link COM<n>")
    p.add_argument("--com", type=int, default=1, help="COM number (default 1)")
    p.add_argument("--address", type=lambda s: int(s, 0), default=1, help="register 361 (default 1)")
    p.add_argument("--rated", type=lambda s: int(s, 0), default=50, help="register 44, 100 W units (default 50)")
    p.add_argument("--firmware", type=lambda s: int(s, 0), default=500, help="register 45 (default 500)")
    p.add_argument("--serial", default="123456789012", help="twelve digits, registers 1..3")
    p.add_argument("--no-live", action="store_true", help="leave registers 11..41 at zero")
    p.add_argument("--dump", metavar="FILE",
                   help="on exit, write the holding registers to FILE, one REG=VALUE a line")
    p.add_argument("--input", type=register_value, action="append", default=[],
                   metavar="REG=VALUE", help="preset input register 1..81 (repeatable)")
    p.add_argument("--holding", type=register_value, action="append", default=[],
                   metavar="REG=VALUE", help="preset holding register 301..361 (repeatable)")
    args = p.parse_args(argv)
    if len(args.serial) != 12 or not args.serial.isdigit():
        p.error("--serial needs twelve digits")
    for reg, _ in args.input:
        if not 1 <= reg <= INPUT_COUNT:
            p.error(f"input register {reg} outside 1..{INPUT_COUNT}")
    for reg, _ in args.holding:
        if not HOLDING_FIRST <= reg <= HOLDING_LAST:
            p.error(f"holding register {reg} outside {HOLDING_FIRST}..{HOLDING_LAST}")
    return args


def build_context(args):
    inputs = [0] * INPUT_COUNT
    holding = [0] * (HOLDING_LAST - HOLDING_FIRST + 1)

    def put_input(reg, value):
        inputs[reg - 1] = value

    def put_holding(reg, value):
        holding[reg - HOLDING_FIRST] = value

    for i, word in enumerate(serial_words(args.serial)):
        put_input(1 + i, word)
        put_holding(301 + i, word)
    if not args.no_live:
        for reg, value in LIVE_RECORD.items():
            put_input(reg, value)
    put_input(44, args.rated)
    put_input(45, args.firmware)
    put_holding(361, args.address)
    for reg, value in args.input:
        put_input(reg, value)
    for reg, value in args.holding:
        put_holding(reg, value)

    args.holding_block = ModbusSequentialDataBlock(0, holding)
    slave = ModbusSlaveContext(
        di=ModbusSequentialDataBlock(0, [0] * 8),
        co=ModbusSequentialDataBlock(0, [0] * 8),
        hr=args.holding_block,
        ir=ModbusSequentialDataBlock(0, inputs),
        zero_mode=True)  # wire address 0 is the first value, not the second
    # single=True: one context for every slave address, so the 0xFF probe is answered too.
    return ModbusServerContext(slaves=slave, single=True)


def open_pty():
    """A pseudo-terminal pair in raw mode: (master fd, slave fd kept open, slave name)."""
    master, slave = os.openpty()
    tty.setraw(slave)
    attrs = termios.tcgetattr(slave)
    attrs[4] = attrs[5] = termios.B9600
    termios.tcsetattr(slave, termios.TCSANOW, attrs)
    os.set_blocking(master, False)
    return master, slave, os.ttyname(slave)


def point_link(ports_dir, com, target):
    os.makedirs(ports_dir, exist_ok=True)
    link = os.path.join(ports_dir, f"COM{com}")
    temporary = os.path.join(ports_dir, f".COM{com}.new.{os.getpid()}")
    if os.path.lexists(temporary):
        os.remove(temporary)
    os.symlink(target, temporary)
    os.replace(temporary, link)
    return link


def relay(loop, source, sink):
    def forward():
        try:
            data = os.read(source, 4096)
        except (BlockingIOError, InterruptedError):
            return
        except OSError:
            return  # the far side is between opens; we hold its slave, so this passes
        if data:
            try:
                os.write(sink, data)
            except OSError:
                pass
    loop.add_reader(source, forward)


async def serve(args):
    loop = asyncio.get_running_loop()
    server_master, server_slave, server_name = open_pty()
    program_master, program_slave, program_name = open_pty()

    server = await StartAsyncSerialServer(
        context=build_context(args), framer=ModbusRtuFramer, port=server_name,
        baudrate=9600, bytesize=8, parity="N", stopbits=1, timeout=0.005,
        defer_start=True)
    await server.start()
    if server.transport is None:
        print("pymodbus could not open " + server_name, file=sys.stderr)
        return 1

    relay(loop, server_master, program_master)
    relay(loop, program_master, server_master)
    link = point_link(args.ports_dir, args.com, program_name)

    stop = asyncio.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    print(f"READY {link} -> {program_name}", flush=True)
    await stop.wait()

    # Closing the port cancels pymodbus's reader, which it reports as an error; it is not one.
    logging.getLogger("pymodbus.server.async_io").setLevel(logging.CRITICAL)
    await server.shutdown()
    for fd in (server_master, program_master):
        loop.remove_reader(fd)
    try:
        if os.path.realpath(link) == os.path.realpath(program_name):
            os.remove(link)
    except OSError:
        pass
    for fd in (server_master, server_slave, program_master, program_slave):
        os.close(fd)
    if args.dump:
        count = HOLDING_LAST - HOLDING_FIRST + 1
        values = args.holding_block.getValues(0, count)
        with open(args.dump, "w", encoding="ascii") as out:
            for i, value in enumerate(values):
                out.write(f"{HOLDING_FIRST + i}={value}\n")
    return 0


def main(argv):
    return asyncio.run(serve(parse_args(argv)))


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
