#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Tests of the board's QEMU device, run against a built emulator.

Each test starts the emulator with no processor running (QEMU's qtest
accelerator) and drives the board as a driver would: configuration cycles
through ports 0xCF8/0xCFC, register and memory accesses at the addresses it
assigns, and a screen dump through QEMU's monitor protocol (QMP). The
expected values come from the board's documented behaviour, worked out
here independently of the model the device is built on.

Usage: emulator/qemu/device_test.py QEMU [unittest arguments]
"""

import base64
import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from qmp import Qmp

QEMU = None  # set from the command line
SLOT = 5

# Where the tests put the board's ranges (BAR0-BAR5, then the ROM).
FRAME_BUFFER = 0xE0000000
BAR1 = 0xE2000000
BAR2 = 0xE4000000
BAR3 = 0xE4010000
REGISTERS = 0xE4020000
IO = 0xC000
ROM = 0xE4030000

# Register offsets in BAR4 and BAR5.
DAC_WR_INDEX, DAC_DATA, DAC_PIXEL_MASK = 0x00, 0x04, 0x08
DAC_INDEX_LOW, DAC_INDEX_HIGH, DAC_INDEX_DATA = 0x10, 0x14, 0x18
CRTC_START_ADDR, CRTC_PITCH, CRTC_HACTIVE, CRTC_HBLANK = 0x28, 0x2C, 0x30, 0x34
CRTC_VACTIVE, CRTC_VBLANK, CRTC_CONTROL = 0x40, 0x44, 0x5C
ENGINE_BUSY = 0x4008
CONFIG1, CONFIG2, CONFIG3, VGA_CTRL = 0x18, 0x1C, 0x20, 0x30
PIXEL_FORMAT = 0x0A  # DAC index: 3 = 8 bpp, 4 = 16 bpp, 6 = 32 bpp


class Board:
    """One emulator with one board, driven over qtest and QMP."""

    def __init__(self, *options):
        self.dir = tempfile.TemporaryDirectory(prefix="torvic-device-")
        qtest, qmp = (os.path.join(self.dir.name, n) for n in ("qtest.sock", "qmp.sock"))
        self.log = os.path.join(self.dir.name, "qemu.log")
        self.output = open(os.path.join(self.dir.name, "output.log"), "w+")
        device = ",".join(["torvic", f"addr={SLOT:#x}", "id=board"] + list(options))
        listener = socket.socket(socket.AF_UNIX)
        listener.bind(qtest)
        listener.listen(1)
        self.process = subprocess.Popen(
            [QEMU, "-machine", "pc", "-accel", "qtest", "-qtest", f"unix:{qtest}", "-nodefaults",
             "-display", "none", "-L", "/usr/share/seabios", "-L", "/usr/share/qemu",
             "-qmp", f"unix:{qmp},server=on,wait=off", "-device", device,
             "-d", "guest_errors,unimp", "-D", self.log, "-qtest-log", "/dev/null"],
            stdin=subprocess.DEVNULL, stdout=self.output, stderr=subprocess.STDOUT)
        listener.settimeout(20)
        try:
            self.qtest, _ = listener.accept()
        except socket.timeout:
            self.process.kill()
            self.output.seek(0)
            raise RuntimeError("the emulator did not start: " + self.output.read())
        listener.close()
        self.qtest.settimeout(60)
        self.qtest_in = self.qtest.makefile("r")
        self.qmp = Qmp(qmp)

    def close(self):
        self.qtest.close()
        self.qmp.close()
        self.process.kill()
        self.process.wait()
        self.output.close()
        self.dir.cleanup()

    # ---- The two protocols ----
    def ask(self, line):
        self.qtest.sendall((line + "\n").encode())
        while True:
            answer = self.qtest_in.readline().strip()
            if not answer.startswith("IRQ"):
                break
        if not answer.startswith("OK"):
            raise RuntimeError(f"qtest: {line}: {answer}")
        return int(answer.split()[1], 16) if len(answer.split()) > 1 else None

    def command(self, name, **arguments):
        return self.qmp.command(name, **arguments)

    def guest_errors(self):
        with open(self.log) as f:
            return f.read()

    # ---- PCI configuration space ----
    def config_read(self, offset):
        self.ask(f"outl 0xcf8 {0x80000000 | SLOT << 11 | offset:#x}")
        return self.ask("inl 0xcfc")

    def config_write(self, offset, value):
        self.ask(f"outl 0xcf8 {0x80000000 | SLOT << 11 | offset:#x}")
        self.ask(f"outl 0xcfc {value:#x}")

    def assign_ranges(self):
        for offset, base in ((0x10, FRAME_BUFFER), (0x14, BAR1), (0x18, BAR2), (0x1C, BAR3),
                             (0x20, REGISTERS), (0x24, IO), (0x30, ROM | 1)):
            self.config_write(offset, base)
        self.config_write(0x04, 0x3)  # I/O and memory decoding on

    # ---- The board's blocks ----
    def reg(self, offset):
        return self.ask(f"readl {REGISTERS + offset:#x}")

    def set_reg(self, offset, value):
        self.ask(f"writel {REGISTERS + offset:#x} {value:#x}")

    def dac_port(self, offset, value):
        self.ask(f"writeb {REGISTERS + offset:#x} {value:#x}")

    def set_dac_index(self, index, value):
        self.dac_port(DAC_INDEX_LOW, index)
        self.dac_port(DAC_INDEX_HIGH, 0)
        self.dac_port(DAC_INDEX_DATA, value)

    def io(self, offset):
        return self.ask(f"inl {IO + offset:#x}")

    def write_memory(self, address, data):
        # QEMU 7.2's qtest loses a command line of 32 KiB or more: 16 KiB of
        # data a line, as base64.
        for at in range(0, len(data), 1 << 14):
            chunk = data[at:at + (1 << 14)]
            self.ask(f"b64write {address + at:#x} {len(chunk):#x} {base64.b64encode(chunk).decode()}")

    def read_memory(self, address, length):
        self.qtest.sendall(f"b64read {address:#x} {length:#x}\n".encode())
        answer = self.qtest_in.readline().split()
        return base64.b64decode(answer[1])

    # ---- What the monitor shows ----
    def screen(self):
        return self.qmp.screen(os.path.join(self.dir.name, "screen.ppm"))

    def monitor(self):
        return self.qmp.monitor()

    def program_mode(self, width, height, bits, bus_bits, pitch):
        """The registers a mode needs for the monitor to lock to it."""
        self.set_dac_index(PIXEL_FORMAT, {8: 3, 16: 4, 32: 6}[bits])
        per_word = bus_bits // bits
        self.set_reg(CRTC_START_ADDR, 0)
        self.set_reg(CRTC_PITCH, pitch)
        self.set_reg(CRTC_HACTIVE, width // per_word)
        self.set_reg(CRTC_HBLANK, 160 // per_word)
        self.set_reg(CRTC_VACTIVE, height)
        self.set_reg(CRTC_VBLANK, 45)
        self.ask(f"outl {IO + VGA_CTRL:#x} 0x0")  # the VGA core lets go
        self.set_reg(CRTC_CONTROL, 0x100)  # the CRT controller drives


def pixel(screen, x, y):
    width, _, pixels = screen
    at = (y * width + x) * 3
    return tuple(pixels[at:at + 3])


class BoardTest(unittest.TestCase):
    def board(self, *options):
        board = Board(*options)
        self.addCleanup(board.close)
        return board


class Identity(BoardTest):
    def test_configuration_space_names_the_board_its_variant_and_class(self):
        board = self.board("variant=10", "memory=8")
        self.assertEqual(board.config_read(0x00), 0x4B211F3A)
        self.assertEqual(board.config_read(0x08), 0x03000001)  # VGA-compatible display, revision 1
        self.assertEqual(board.config_read(0x2C), 0x000A1F3A)
        self.assertEqual(board.config_read(0x04) >> 16 & 0x0600, 0x0200)  # medium DEVSEL
        self.assertEqual(board.config_read(0x04) & 0x7, 0)  # decoding off until the firmware or driver

    def test_base_address_registers_size_as_the_board_decodes(self):
        board = self.board()
        expected = {0x10: 0xFE000008, 0x14: 0xFE000000, 0x18: 0xFFFF0000, 0x1C: 0xFFFF0000,
                    0x20: 0xFFFF0000, 0x24: 0xFFFFFF01, 0x30: 0xFFFF0000}
        for offset, mask in expected.items():
            board.config_write(offset, 0xFFFFFFFF)
            self.assertEqual(board.config_read(offset) & ~1 if offset == 0x30 else board.config_read(offset),
                             mask, f"register {offset:#x}")

    def test_without_its_vga_core_the_board_has_no_expansion_rom(self):
        board = self.board("vga=off")
        board.config_write(0x30, 0xFFFFFFFF)
        self.assertEqual(board.config_read(0x30), 0)

    def test_a_memory_size_the_board_is_not_made_with_is_refused(self):
        process = subprocess.run(
            [QEMU, "-machine", "pc", "-accel", "qtest", "-nodefaults", "-display", "none",
             "-L", "/usr/share/seabios", "-L", "/usr/share/qemu", "-device", "torvic,memory=3"],
            capture_output=True, text=True, timeout=30)
        self.assertNotEqual(process.returncode, 0)
        self.assertIn("2, 4 or 8 MiB of video memory, not 3", process.stderr)


class Registers(BoardTest):
    def test_straps_and_power_on_values_read_through_the_io_block(self):
        for memory, straps in (("2", 0x0000), ("4", 0x0400), ("8", 0x8400)):
            board = self.board(f"memory={memory}")
            board.assign_ranges()
            self.assertEqual(board.io(CONFIG1), straps, f"{memory} MiB")
            self.assertEqual(board.io(CONFIG2), 0x0C)
            self.assertEqual(board.io(CONFIG3), 0x03)
            self.assertEqual(board.io(VGA_CTRL), 0x0D)

    def test_nothing_answers_until_decoding_is_on(self):
        board = self.board("memory=8")
        board.assign_ranges()
        board.config_write(0x04, 0)
        self.assertNotEqual(board.io(CONFIG1), 0x8400)
        board.config_write(0x04, 0x1)
        self.assertEqual(board.io(CONFIG1), 0x8400)

    def test_crtc_registers_keep_32_bit_writes_and_refuse_other_widths(self):
        board = self.board()
        board.assign_ranges()
        board.set_reg(CRTC_PITCH, 0x1400)
        self.assertEqual(board.reg(CRTC_PITCH), 0x1400)
        board.ask(f"writew {REGISTERS + CRTC_PITCH:#x} 0x55")
        self.assertEqual(board.reg(CRTC_PITCH), 0x1400)
        self.assertEqual(board.ask(f"readb {REGISTERS + CRTC_PITCH:#x}"), 0)
        errors = board.guest_errors()
        self.assertIn("the board takes no 16-bit write", errors)
        self.assertIn("the board takes no 8-bit read", errors)

    def test_a_register_the_board_does_not_have_is_logged_not_kept(self):
        board = self.board()
        board.assign_ranges()
        board.set_reg(0x100, 0x1234)
        self.assertEqual(board.reg(0x100), 0)
        self.assertIn("the board has no register at reg offset 0x100", board.guest_errors())

    def test_the_engine_reports_idle(self):
        board = self.board()
        board.assign_ranges()
        self.assertEqual(board.reg(ENGINE_BUSY), 0)

    def test_a_reset_restores_power_on_registers_and_keeps_video_memory(self):
        board = self.board()
        board.assign_ranges()
        board.ask(f"outl {IO + VGA_CTRL:#x} 0x0")
        board.set_reg(CRTC_PITCH, 0x800)
        board.write_memory(FRAME_BUFFER + 0x1000, b"kept")
        board.command("system_reset")
        board.assign_ranges()  # the reset clears the configuration space too
        self.assertEqual(board.io(VGA_CTRL), 0x0D)
        self.assertEqual(board.reg(CRTC_PITCH), 0)
        self.assertEqual(board.read_memory(FRAME_BUFFER + 0x1000, 4), b"kept")


class VideoMemory(BoardTest):
    def test_memory_repeats_across_the_aperture(self):
        for memory in (2, 4, 8):
            board = self.board(f"memory={memory}")
            board.assign_ranges()
            board.write_memory(FRAME_BUFFER + 0x10, b"\x11\x22\x33\x44")
            for copy in range(1, 32 // memory):
                self.assertEqual(board.read_memory(FRAME_BUFFER + copy * memory * 0x100000 + 0x10, 4),
                                 b"\x11\x22\x33\x44", f"{memory} MiB, copy {copy}")
            # A write through a copy reaches the one memory.
            board.write_memory(FRAME_BUFFER + (32 - memory) * 0x100000 + 0x20, b"\x99")
            self.assertEqual(board.read_memory(FRAME_BUFFER + 0x20, 1), b"\x99")


class Monitor(BoardTest):
    def test_the_vga_core_shows_until_the_crt_controller_drives(self):
        # Video memory all palette entry 1, white: the CRT controller's
        # picture is white; the VGA core, which no BIOS has set up here,
        # shows a blank screen.
        board = self.board()
        board.assign_ranges()
        board.dac_port(DAC_WR_INDEX, 1)
        for component in (255, 255, 255):
            board.dac_port(DAC_DATA, component)
        board.write_memory(FRAME_BUFFER, b"\x01" * (800 * 600))
        board.ask(f"outl {IO + VGA_CTRL:#x} 0x0")
        white = lambda screen: screen[:2] == (800, 600) and set(screen[2]) == {255}
        self.assertFalse(white(board.screen()))
        self.assertTrue(board.monitor().startswith("VGA"))
        board.program_mode(800, 600, 8, 64, 800)
        self.assertTrue(white(board.screen()))
        self.assertTrue(board.monitor().startswith("800 x 600 at 8 bpp, total 960 x 645"))
        # The VGA bits again: the VGA core has the display back.
        board.ask(f"outl {IO + VGA_CTRL:#x} 0xd")
        self.assertFalse(white(board.screen()))
        self.assertTrue(board.monitor().startswith("VGA"))
        board.ask(f"outl {IO + VGA_CTRL:#x} 0x0")
        self.assertTrue(white(board.screen()))
        board.set_reg(CRTC_CONTROL, 0)
        self.assertFalse(white(board.screen()))

    def test_8_bpp_goes_through_the_palette_and_pixel_mask(self):
        board = self.board("variant=0")  # a 64-bit memory bus
        board.assign_ranges()
        board.dac_port(DAC_WR_INDEX, 0)
        for i in range(256):
            for component in (i, 255 - i, i // 2):
                board.dac_port(DAC_DATA, component)
        frame = bytes((x + y) & 0xFF for y in range(480) for x in range(640))
        board.write_memory(FRAME_BUFFER, frame)
        board.program_mode(640, 480, 8, 64, 640)
        screen = board.screen()
        self.assertEqual(screen[:2], (640, 480))
        for x, y in ((0, 0), (1, 0), (200, 100), (639, 479)):
            i = (x + y) & 0xFF
            self.assertEqual(pixel(screen, x, y), (i, 255 - i, i // 2), f"({x}, {y})")
        board.dac_port(DAC_PIXEL_MASK, 0x0F)
        self.assertEqual(pixel(board.screen(), 200, 100), (0x0C, 255 - 0x0C, 0x06))

    def test_16_bpp_is_5_6_5_and_32_bpp_keeps_blue_in_the_low_byte(self):
        board = self.board("variant=10", "memory=8")  # a 128-bit memory bus
        board.assign_ranges()
        board.write_memory(FRAME_BUFFER, bytes([0x1F, 0xF8, 0xE0, 0x07]))  # red, then green
        board.program_mode(800, 600, 16, 128, 1600)
        screen = board.screen()
        self.assertEqual(screen[:2], (800, 600))
        self.assertEqual(pixel(screen, 0, 0), (0xFF, 0x00, 0xFF))  # 0xF81F: red and blue full
        self.assertEqual(pixel(screen, 1, 0), (0x00, 0xFF, 0x00))
        board.write_memory(FRAME_BUFFER + 4096 * 2, bytes([0x30, 0x20, 0x10, 0x00]))
        board.program_mode(1024, 768, 32, 128, 4096)
        screen = board.screen()
        self.assertEqual(screen[:2], (1024, 768))
        self.assertEqual(pixel(screen, 0, 2), (0x10, 0x20, 0x30))

    def test_the_start_address_and_pitch_place_the_picture(self):
        board = self.board("variant=8", "memory=2")  # DRAM: a 32-bit memory bus
        board.assign_ranges()
        board.dac_port(DAC_WR_INDEX, 7)
        for component in (1, 2, 3):
            board.dac_port(DAC_DATA, component)
        board.program_mode(640, 480, 8, 32, 1024)
        board.set_reg(CRTC_START_ADDR, 0x1000)
        board.write_memory(FRAME_BUFFER + 0x1000 + 3 * 1024 + 5, b"\x07")
        screen = board.screen()
        self.assertEqual(pixel(screen, 5, 3), (1, 2, 3))
        self.assertEqual(pixel(screen, 4, 3), (0, 0, 0))


class Firmware(BoardTest):
    def test_the_vga_core_is_a_plain_vga_without_the_vbe_extension(self):
        # QEMU's VGA answers its VBE index port with an identity of 0xB0Cx;
        # the board's VGA core has no such port, so nothing answers there.
        board = self.board()
        board.ask("outw 0x1ce 0x0")
        self.assertEqual(board.ask("inw 0x1cf"), 0xFFFF)

    def test_the_pc_firmware_brings_up_the_vga_core_from_the_expansion_rom(self):
        with tempfile.TemporaryDirectory(prefix="torvic-boot-") as folder:
            qmp = os.path.join(folder, "qmp.sock")
            process = subprocess.Popen(
                [QEMU, "-machine", "pc", "-nodefaults", "-display", "none", "-L", "/usr/share/seabios",
                 "-L", "/usr/share/qemu", "-device", "torvic,id=board,variant=10",
                 "-qmp", f"unix:{qmp},server=on,wait=off"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.addCleanup(process.wait)
            self.addCleanup(process.kill)
            client = Qmp(qmp)
            self.addCleanup(client.close)
            time.sleep(3)  # the BIOS runs the ROM and prints its banner
            width, height, pixels = client.screen(os.path.join(folder, "screen.ppm"))
            self.assertEqual((width, height), (720, 400))  # VGA text, 80 x 25
            self.assertTrue(any(pixels), "the text screen is blank")


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    QEMU = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
