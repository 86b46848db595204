#!/usr/bin/env python3
"""An altimeter's Modbus face played by pymodbus, a slave this project did not
write, on one end of a pseudo-terminal pair.

Holds the register map's addresses with fixed values, prints "ready" on
standard output once it listens, and logs what it was asked to do out of the
ordinary to standard error. With --state-file it rewrites that file after
every write, one "address value" line per holding register.
"""
import argparse
import asyncio
import logging
import os
import random
import signal
import struct
import sys
import time

from pymodbus.datastore import (
    ModbusSequentialDataBlock,
    ModbusServerContext,
    ModbusSlaveContext,
)
from pymodbus.pdu import ModbusRequest
from pymodbus.server.async_io import ModbusSerialServer
from pymodbus.transaction import ModbusRtuFramer

SLAVE = 19

# Holding registers (data addresses as they stand in a frame).
ADR_MB = 16
REVISION = 18
REVISION_LENGTH = 18
RAW_DATA_TYPE = 37
PROT_TYPE = 38
FMCW_BAND = 39
FREQ_RED = 50
SIZE_LOCK_DATA = 70
FLOATS = {71: 0.5, 73: 1.5, 75: 0.25, 77: 0.9, 79: 2.0, 90: 0.3}
HOLDING_END = 92  # one past the last register of the float at 90

# Input registers: float pairs, high word first.
PERIOD = 0
DISTANCE = 2
SELF_TEST = 4
FLASH_STATUS = 6
INPUT_END = 8

COIL_END = 16

READ_INPUT = 4


def float_words(value):
    high, low = struct.unpack(">HH", struct.pack(">f", value))
    return [high, low]


def log(text):
    print(f"peer: {text}", file=sys.stderr, flush=True)


class AddressReset(ModbusRequest):
    """The altimeter's own broadcast (FF 43 A5 5A 13 00 + CRC). Known here only
    so that the framer takes its eight bytes as one frame; it is addressed to
    0xFF, which is not this slave, so the server drops it unanswered."""

    function_code = 0x43
    _rtu_frame_size = 8

    def encode(self):
        return b""

    def decode(self, data):
        pass


class PeerContext(ModbusSlaveContext):
    """The slave's registers; holds one distance read's answer past the
    master's time-out when told to, blocking the server as a slave that is
    busy elsewhere would, so every later request is answered after it, in
    order."""

    def __init__(self, args, **kwargs):
        super().__init__(zero_mode=True, **kwargs)
        self.state_file = args.state_file
        self.late_read = 0
        self.late_seconds = 0.0
        self.distance_reads = 0
        if args.late_seed is not None:
            rng = random.Random(args.late_seed)
            self.late_read = rng.randint(args.late_first, args.late_last)
            self.late_seconds = round(rng.uniform(args.late_min, args.late_max), 3)
            log(f"seed {args.late_seed}: distance read {self.late_read} answered "
                f"{self.late_seconds} s late")

    def getValues(self, fc_as_hex, address, count=1):
        values = super().getValues(fc_as_hex, address, count)
        if fc_as_hex == READ_INPUT and address == DISTANCE and count == 2:
            self.distance_reads += 1
            if self.distance_reads == self.late_read:
                log(f"holding distance read {self.distance_reads}")
                time.sleep(self.late_seconds)
                log(f"answered distance read {self.distance_reads} late")
        return values

    def setValues(self, fc_as_hex, address, values):
        super().setValues(fc_as_hex, address, values)
        if self.state_file and fc_as_hex in (6, 16):
            self.write_state()

    def write_state(self):
        block = self.store["h"]
        lines = [f"{adr} {block.values[adr - block.address]}\n"
                 for adr in range(block.address, block.address + len(block.values))]
        partial = self.state_file + ".part"
        with open(partial, "w", encoding="ascii") as out:
            out.writelines(lines)
        os.replace(partial, self.state_file)


def holding_values(args):
    values = [0] * HOLDING_END
    revision = args.revision.encode("latin-1")[:REVISION_LENGTH]
    for i, char in enumerate(revision):
        values[REVISION + i] = char
    values[ADR_MB] = SLAVE
    values[PROT_TYPE] = args.protocol_type
    values[FMCW_BAND] = args.fmcw_band
    values[FREQ_RED] = 0
    values[SIZE_LOCK_DATA] = 10
    for adr, value in FLOATS.items():
        values[adr:adr + 2] = float_words(value)
    if args.th_coef_min is not None:
        values[71:73] = float_words(args.th_coef_min)
    # A table that ends early: the registers from there on do not exist.
    return values[:args.holding_end]


def input_values(args):
    values = [0] * INPUT_END
    values[PERIOD:PERIOD + 2] = float_words(args.period)
    values[DISTANCE:DISTANCE + 2] = float_words(args.distance)
    return values


async def serve(args):
    context = PeerContext(
        args,
        co=ModbusSequentialDataBlock(0, [False] * COIL_END),
        di=ModbusSequentialDataBlock(0, [False] * COIL_END),
        hr=ModbusSequentialDataBlock(0, holding_values(args)),
        ir=ModbusSequentialDataBlock(0, input_values(args)),
    )
    if args.state_file:
        context.write_state()
    server = ModbusSerialServer(
        ModbusServerContext(slaves={SLAVE: context}, single=False),
        framer=ModbusRtuFramer,
        port=args.port,
        baudrate=115200,
        bytesize=8,
        parity="N",
        stopbits=2,
    )
    server.decoder.register(AddressReset)
    await server.start()
    if server.transport is None:
        log(f"cannot open {args.port}")
        return 1

    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for signum in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(signum, stop.set)
    print("ready", flush=True)
    await stop.wait()
    # Closing the port cancels the handler, which pymodbus logs as an error.
    logging.getLogger("pymodbus").setLevel(logging.CRITICAL)
    await server.shutdown()
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", required=True, help="the pseudo-terminal to serve on")
    parser.add_argument("--revision", default="PEER 3.0")
    parser.add_argument("--protocol-type", type=int, default=0)
    parser.add_argument("--fmcw-band", type=int, default=250)
    parser.add_argument("--th-coef-min", type=float)
    parser.add_argument("--distance", type=float, default=12.5)
    parser.add_argument("--period", type=float, default=0.1)
    parser.add_argument("--holding-end", type=int, default=HOLDING_END,
                        help="one past the last holding register that exists")
    parser.add_argument("--state-file", help="rewritten after every write")
    parser.add_argument("--late-seed", type=int,
                        help="hold one distance read's answer, chosen with this seed")
    parser.add_argument("--late-first", type=int, default=3)
    parser.add_argument("--late-last", type=int, default=8)
    # Past the master's 1 s time-out, and soon enough to come while the
    # request sent after that time-out still waits for its own answer.
    parser.add_argument("--late-min", type=float, default=1.5)
    parser.add_argument("--late-max", type=float, default=2.0)
    args = parser.parse_args()
    args.holding_end = max(0, min(args.holding_end, HOLDING_END))
    return asyncio.run(serve(args))


if __name__ == "__main__":
    sys.exit(main())
