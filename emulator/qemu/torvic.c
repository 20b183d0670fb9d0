/* SPDX-License-Identifier: MIT */
/*
 * The Torvic board as a QEMU PCI device, for running an operating system
 * and its driver against it:
 *
 *   -device torvic[,variant=N][,memory=MIB][,vga=on|off]
 *
 * variant is the board's variant code, which the subsystem identifier
 * carries (0-7: RGB526 with VRAM, 8-9: DRAM, 10-11: RGB528 with VRAM; any
 * other code is a board the driver does not know); memory is 2, 4 or 8 MiB.
 *
 * The registers, the DAC, video memory and what the monitor shows are the
 * board model of the project's host tests (board_bridge.h), so the device
 * and the model answer every access alike. This file is the PCI function
 * around them: the identity, the base address registers and their decoding
 * (QEMU's PCI core), video memory as RAM repeating across its aperture, and
 * a console that shows the CRT controller's picture once it drives the
 * display, and the board's VGA core (QEMU's VGA, with the VGA BIOS in the
 * expansion ROM) before that and after the driver hands the display back.
 */
#include "qemu/osdep.h"
#include "qemu/log.h"
#include "qemu/module.h"
#include "qemu/units.h"
#include "qapi/error.h"
#include "hw/pci/pci.h"
#include "hw/qdev-properties.h"
#include "hw/display/vga_int.h"
#include "ui/console.h"
#include "qom/object.h"

#include "board_bridge.h"

#define TYPE_TORVIC "torvic"
OBJECT_DECLARE_SIMPLE_TYPE(TorvicState, TORVIC)

struct TorvicState {
    PCIDevice pci;
    uint16_t variant;
    uint32_t memory_mib;
    bool vga_core;

    TorvicBoard *board;
    MemoryRegion aperture;      /* BAR0: video memory, repeated */
    MemoryRegion vram;
    MemoryRegion *repeats;
    unsigned repeat_count;
    MemoryRegion unused[3];     /* BAR1-BAR3 */
    MemoryRegion registers;     /* BAR4 */
    MemoryRegion io;            /* BAR5 */

    VGACommonState vga;
    QemuConsole *con;
    bool redraw;                /* a register changed since the last frame */
    bool showing_scanout;       /* the console shows the CRT controller's frame */
};

/* ---- Register and I/O blocks ------------------------------------------ */

static uint64_t torvic_block_read(TorvicState *s, enum TorvicBlock block, const char *name,
                                  hwaddr addr, unsigned size)
{
    char why[160];
    uint32_t value;

    if (torvic_board_read(s->board, block, addr, size, &value, why, sizeof(why)) != 0) {
        qemu_log_mask(LOG_GUEST_ERROR, "torvic: %u-byte read of %s 0x%" HWADDR_PRIx ": %s\n",
                      size, name, addr, why);
    }
    return value;
}

static void torvic_block_write(TorvicState *s, enum TorvicBlock block, const char *name,
                               hwaddr addr, uint64_t value, unsigned size)
{
    char why[160];

    if (torvic_board_write(s->board, block, addr, size, value, why, sizeof(why)) != 0) {
        qemu_log_mask(LOG_GUEST_ERROR,
                      "torvic: %u-byte write of 0x%" PRIx64 " to %s 0x%" HWADDR_PRIx ": %s\n",
                      size, value, name, addr, why);
    }
    s->redraw = true;
}

static uint64_t torvic_registers_read(void *opaque, hwaddr addr, unsigned size)
{
    return torvic_block_read(opaque, TORVIC_REGISTERS, "register", addr, size);
}

static void torvic_registers_write(void *opaque, hwaddr addr, uint64_t value, unsigned size)
{
    torvic_block_write(opaque, TORVIC_REGISTERS, "register", addr, value, size);
}

static uint64_t torvic_io_read(void *opaque, hwaddr addr, unsigned size)
{
    return torvic_block_read(opaque, TORVIC_IO, "I/O port", addr, size);
}

static void torvic_io_write(void *opaque, hwaddr addr, uint64_t value, unsigned size)
{
    torvic_block_write(opaque, TORVIC_IO, "I/O port", addr, value, size);
}

/* Every width reaches the board, which answers the ones it decodes; an
 * access is never split or widened on the way. */
static const MemoryRegionOps torvic_registers_ops = {
    .read = torvic_registers_read,
    .write = torvic_registers_write,
    .endianness = DEVICE_LITTLE_ENDIAN,
    .valid = { .min_access_size = 1, .max_access_size = 4, .unaligned = true },
    .impl = { .min_access_size = 1, .max_access_size = 4, .unaligned = true },
};

static const MemoryRegionOps torvic_io_ops = {
    .read = torvic_io_read,
    .write = torvic_io_write,
    .endianness = DEVICE_LITTLE_ENDIAN,
    .valid = { .min_access_size = 1, .max_access_size = 4, .unaligned = true },
    .impl = { .min_access_size = 1, .max_access_size = 4, .unaligned = true },
};

/* BAR1 to BAR3 decode ranges whose contents the driver never touches: they
 * read 0 and keep nothing. */
static uint64_t torvic_unused_read(void *opaque, hwaddr addr, unsigned size)
{
    qemu_log_mask(LOG_UNIMP, "torvic: read of an unmodelled range at 0x%" HWADDR_PRIx "\n", addr);
    return 0;
}

static void torvic_unused_write(void *opaque, hwaddr addr, uint64_t value, unsigned size)
{
    qemu_log_mask(LOG_UNIMP, "torvic: write to an unmodelled range at 0x%" HWADDR_PRIx "\n", addr);
}

static const MemoryRegionOps torvic_unused_ops = {
    .read = torvic_unused_read,
    .write = torvic_unused_write,
    .endianness = DEVICE_LITTLE_ENDIAN,
};

/* ---- The monitor ------------------------------------------------------- */

/* Pictures larger than this are a mistake in the registers, not a mode. */
#define TORVIC_LARGEST_PICTURE 4096

static void torvic_show_scanout(TorvicState *s, const TorvicScanout *scanout)
{
    DisplaySurface *surface = qemu_console_surface(s->con);
    DirtyBitmapSnapshot *snap;
    bool vram_dirty;

    if (!surface || !s->showing_scanout || surface_width(surface) != (int)scanout->width ||
        surface_height(surface) != (int)scanout->height) {
        qemu_console_resize(s->con, scanout->width, scanout->height);
        surface = qemu_console_surface(s->con);
        s->redraw = true;
    }
    s->showing_scanout = true;
    snap = memory_region_snapshot_and_clear_dirty(&s->vram, 0, memory_region_size(&s->vram),
                                                  DIRTY_MEMORY_VGA);
    vram_dirty = memory_region_snapshot_get_dirty(&s->vram, snap, 0, memory_region_size(&s->vram));
    g_free(snap);
    if (!vram_dirty && !s->redraw) {
        return;
    }
    s->redraw = false;
    torvic_board_render(s->board, surface_data(surface), surface_stride(surface));
    dpy_gfx_update_full(s->con);
}

static void torvic_update_display(void *opaque)
{
    TorvicState *s = opaque;
    TorvicScanout scanout;

    torvic_board_scanout(s->board, &scanout);
    if (!scanout.graphics) {
        if (s->showing_scanout) {
            /* The CRT controller's picture goes; until the VGA core draws,
             * the screen is blank. */
            s->showing_scanout = false;
            dpy_gfx_replace_surface(s->con, qemu_create_displaysurface(640, 480));
            if (s->vga_core) {
                s->vga.hw_ops->invalidate(&s->vga);
            }
        }
        if (s->vga_core) {
            s->vga.hw_ops->gfx_update(&s->vga);
        }
        return;
    }
    if (scanout.bits_per_pixel == 0 || scanout.width == 0 || scanout.height == 0 ||
        scanout.width > TORVIC_LARGEST_PICTURE || scanout.height > TORVIC_LARGEST_PICTURE) {
        /* No picture a monitor could lock to: leave the screen as it was. */
        return;
    }
    torvic_show_scanout(s, &scanout);
}

static void torvic_invalidate_display(void *opaque)
{
    TorvicState *s = opaque;

    s->redraw = true;
    if (s->vga_core) {
        s->vga.hw_ops->invalidate(&s->vga);
    }
}

static void torvic_update_text(void *opaque, console_ch_t *chardata)
{
    TorvicState *s = opaque;
    TorvicScanout scanout;

    torvic_board_scanout(s->board, &scanout);
    if (!scanout.graphics && s->vga_core && s->vga.hw_ops->text_update) {
        s->vga.hw_ops->text_update(&s->vga, chardata);
    }
}

static const GraphicHwOps torvic_gfx_ops = {
    .invalidate = torvic_invalidate_display,
    .gfx_update = torvic_update_display,
    .text_update = torvic_update_text,
};

/* ---- The PCI function -------------------------------------------------- */

/* Video memory across BAR0's aperture: past the installed memory the
 * board's address lines reach the same chips again. */
static void torvic_init_aperture(TorvicState *s, uint32_t aperture_size)
{
    Object *owner = OBJECT(s);
    uint32_t memory = torvic_board_memory_size(s->board);
    unsigned i;

    memory_region_init(&s->aperture, owner, "torvic.aperture", aperture_size);
    memory_region_init_ram_ptr(&s->vram, owner, "torvic.vram", memory, torvic_board_vram(s->board));
    memory_region_set_log(&s->vram, true, DIRTY_MEMORY_VGA);
    memory_region_add_subregion(&s->aperture, 0, &s->vram);
    s->repeat_count = aperture_size / memory - 1;
    s->repeats = g_new0(MemoryRegion, s->repeat_count);
    for (i = 0; i < s->repeat_count; i++) {
        memory_region_init_alias(&s->repeats[i], owner, "torvic.vram-repeat", &s->vram, 0, memory);
        memory_region_add_subregion(&s->aperture, (hwaddr)(i + 1) * memory, &s->repeats[i]);
    }
}

static uint8_t torvic_bar_type(const TorvicRange *range)
{
    if (range->io) {
        return PCI_BASE_ADDRESS_SPACE_IO;
    }
    return PCI_BASE_ADDRESS_SPACE_MEMORY | (range->prefetchable ? PCI_BASE_ADDRESS_MEM_PREFETCH : 0);
}

static void torvic_realize(PCIDevice *dev, Error **errp)
{
    TorvicState *s = TORVIC(dev);
    TorvicRange ranges[TORVIC_RANGES];
    char why[160];
    int i;

    s->board = torvic_board_new(s->variant, s->memory_mib, why, sizeof(why));
    if (!s->board) {
        error_setg(errp, "torvic: %s", why);
        return;
    }
    torvic_board_ranges(ranges);

    pci_set_word(dev->config + PCI_SUBSYSTEM_VENDOR_ID, TORVIC_VENDOR_ID);
    pci_set_word(dev->config + PCI_SUBSYSTEM_ID, s->variant);
    pci_set_word(dev->config + PCI_STATUS, PCI_STATUS_DEVSEL_MEDIUM);

    if (!s->vga_core) {
        /* Without its VGA core the board has no VGA BIOS to offer. */
        g_free(dev->romfile);
        dev->romfile = g_strdup("");
    } else {
        if (!vga_common_init(&s->vga, OBJECT(dev), errp)) {
            return;
        }
        vga_init(&s->vga, OBJECT(dev), pci_address_space(dev), pci_address_space_io(dev), true);
        /* The board's VGA core is a plain VGA. QEMU's brings the Bochs VBE
         * extension, whose linear frame buffer the VGA BIOS would place in
         * the board's aperture, where the VGA core does not scan out: a
         * system that took a VBE mode would draw a picture nobody sees.
         * Without those ports the BIOS offers the VGA modes only. (Taken out
         * of the I/O space, not destroyed: QEMU's memory core frees a
         * region's last view later, under RCU.) */
        portio_list_del(&s->vga.vbe_port_list);
    }
    s->con = graphic_console_init(DEVICE(dev), 0, &torvic_gfx_ops, s);
    s->vga.con = s->con;

    torvic_init_aperture(s, ranges[TORVIC_FRAME_BUFFER_BAR].size);
    for (i = 1; i <= 3; i++) {
        memory_region_init_io(&s->unused[i - 1], OBJECT(dev), &torvic_unused_ops, s,
                              "torvic.unused", ranges[i].size);
    }
    memory_region_init_io(&s->registers, OBJECT(dev), &torvic_registers_ops, s, "torvic.registers",
                          ranges[TORVIC_REGISTER_BAR].size);
    memory_region_init_io(&s->io, OBJECT(dev), &torvic_io_ops, s, "torvic.io",
                          ranges[TORVIC_IO_BAR].size);

    pci_register_bar(dev, 0, torvic_bar_type(&ranges[0]), &s->aperture);
    for (i = 1; i <= 3; i++) {
        pci_register_bar(dev, i, torvic_bar_type(&ranges[i]), &s->unused[i - 1]);
    }
    pci_register_bar(dev, TORVIC_REGISTER_BAR, torvic_bar_type(&ranges[TORVIC_REGISTER_BAR]),
                     &s->registers);
    pci_register_bar(dev, TORVIC_IO_BAR, torvic_bar_type(&ranges[TORVIC_IO_BAR]), &s->io);
    /* The expansion ROM (the VGA BIOS, romfile) is QEMU's PCI core's. */
}

static void torvic_exit(PCIDevice *dev)
{
    TorvicState *s = TORVIC(dev);

    graphic_console_close(s->con);
    g_free(s->repeats);
    torvic_board_free(s->board);
    s->board = NULL;
}

static void torvic_reset(DeviceState *dev)
{
    TorvicState *s = TORVIC(dev);

    torvic_board_reset(s->board);
    if (s->vga_core) {
        vga_common_reset(&s->vga);
    }
    s->redraw = true;
}

/* What the monitor would show, in the host model's words: the mode and its
 * timing while the CRT controller drives the display, else the VGA core. */
static char *torvic_get_monitor(Object *obj, Error **errp)
{
    TorvicState *s = TORVIC(obj);
    TorvicScanout scanout;

    torvic_board_scanout(s->board, &scanout);
    return g_strdup(scanout.description);
}

static Property torvic_properties[] = {
    DEFINE_PROP_UINT16("variant", TorvicState, variant, 0),
    DEFINE_PROP_UINT32("memory", TorvicState, memory_mib, 4),
    DEFINE_PROP_BOOL("vga", TorvicState, vga_core, true),
    DEFINE_PROP_UINT32("vgamem_mb", TorvicState, vga.vram_size_mb, 16),
    DEFINE_PROP_END_OF_LIST(),
};

static void torvic_class_init(ObjectClass *klass, void *data)
{
    DeviceClass *dc = DEVICE_CLASS(klass);
    PCIDeviceClass *k = PCI_DEVICE_CLASS(klass);

    k->realize = torvic_realize;
    k->exit = torvic_exit;
    k->vendor_id = TORVIC_VENDOR_ID;
    k->device_id = TORVIC_DEVICE_ID;
    k->revision = 1;
    k->class_id = PCI_CLASS_DISPLAY_VGA;
    k->romfile = "vgabios-stdvga.bin";
    dc->reset = torvic_reset;
    dc->desc = "Torvic graphics board (RGB526 or RGB528 DAC, 2 to 8 MiB)";
    dc->hotpluggable = false;
    device_class_set_props(dc, torvic_properties);
    object_class_property_set_description(klass, "variant",
        "the board's variant code, the PCI subsystem identifier: 0-7 RGB526 with VRAM, "
        "8-9 DRAM, 10-11 RGB528 with VRAM");
    object_class_property_set_description(klass, "memory", "video memory in MiB: 2, 4 or 8");
    object_class_property_set_description(klass, "vga",
        "the board's VGA core, with the VGA BIOS in its expansion ROM");
    object_class_property_add_str(klass, "monitor", torvic_get_monitor, NULL);
    object_class_property_set_description(klass, "monitor",
        "what the monitor shows (read only): the mode and its timing, or the VGA core");
    set_bit(DEVICE_CATEGORY_DISPLAY, dc->categories);
}

static const TypeInfo torvic_info = {
    .name = TYPE_TORVIC,
    .parent = TYPE_PCI_DEVICE,
    .instance_size = sizeof(TorvicState),
    .class_init = torvic_class_init,
    .interfaces = (InterfaceInfo[]) {
        { INTERFACE_CONVENTIONAL_PCI_DEVICE },
        { },
    },
};

static void torvic_register_types(void)
{
    type_register_static(&torvic_info);
}

type_init(torvic_register_types)
