// SPDX-License-Identifier: MIT
// Mappings for the display driver: video memory with the visible frame's
// place in it, the board's public register ranges, and views of video memory
// shared with other processes.
#include <cstdio>
#include <cstring>
#include <optional>

#include "test_support.h"

namespace torvic::test {
namespace {

using ::testing::IsEmpty;

constexpr ULONG kPublicRanges = static_cast<ULONG>(7 * sizeof(VIDEO_PUBLIC_ACCESS_RANGES));

// The calls of one service, in their brief form.
std::vector<std::string> calls_of(const Machine &m, const std::string &service) {
  return briefs(m.trace(), [&](const host::TraceEvent &e) { return e.service == service; });
}

struct BoardToMap {
  explicit BoardToMap(uint32_t memory, std::vector<host::ServiceFault> faults = {})
      : m([&] {
          MachineConfig c = machine({board(3, 0, memory)});
          c.faults = std::move(faults);
          return c;
        }()),
        client(m, 0) {
    m.boot();
    m.open(0);
    m.clear_trace();
  }
  uint64_t range_start(int i) {
    return static_cast<uint64_t>(extension_of(m, 0).access_ranges[i].RangeStart.QuadPart);
  }
  Machine m;
  DisplayClient client;
};

// ---- Video memory -------------------------------------------------------------------------------

TEST(Mapping, VideoMemoryReplyPlacesTheVisibleFrameOfTheCurrentMode) {
  const struct {
    const char *name;
    std::optional<ULONG> mode;
    ULONG offset;
  } cases[] = {
      {"before any mode set (entry 0)", std::nullopt, 0},
      {"640 x 480 x 8", 0, 0},
      {"1280 x 1024 x 32", 50, 1024},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    BoardToMap b(8 * kMiB);
    if (c.mode) {
      ASSERT_EQ(b.client.set_mode(*c.mode), NO_ERROR);
    }
    b.m.clear_trace();
    const RequestResult r = b.m.request(0, IOCTL_VIDEO_MAP_VIDEO_MEMORY,
                                        bytes_of(VIDEO_MEMORY{nullptr}),
                                        sizeof(VIDEO_MEMORY_INFORMATION));
    ASSERT_EQ(r.status, NO_ERROR);
    EXPECT_EQ(r.information, sizeof(VIDEO_MEMORY_INFORMATION));
    EXPECT_EQ(calls_of(b.m, "VideoPortMapMemory"),
              (std::vector<std::string>{"VideoPortMapMemory phys " + hex(b.range_start(0)) +
                                        " length 0x800000 memory"}));

    // Every byte of the reply, padding included, is the driver's.
    const auto info = record_at<VIDEO_MEMORY_INFORMATION>(r.output);
    VIDEO_MEMORY_INFORMATION expected;
    memset(&expected, 0, sizeof expected);
    expected.VideoRamBase = info.VideoRamBase;
    expected.VideoRamLength = 8 * kMiB;
    expected.FrameBufferBase = static_cast<uint8_t *>(info.VideoRamBase) + c.offset;
    expected.FrameBufferLength = 8 * kMiB - c.offset;
    EXPECT_EQ(r.output, bytes_of(expected));
    EXPECT_NE(info.VideoRamBase, nullptr);

    EXPECT_EQ(b.client.unmap_video_memory(info.VideoRamBase), NO_ERROR);
    EXPECT_THAT(b.m.client_mappings(), IsEmpty());
  }
}

// The display driver's RequestedVirtualAddress is the in/out address of the
// mapping, which NT takes as the process to map into.
TEST(Mapping, VideoMemoryIsMappedWhereTheRequestAsks) {
  BoardToMap b(4 * kMiB);
  const RequestResult r = b.m.request(0, IOCTL_VIDEO_MAP_VIDEO_MEMORY,
                                      bytes_of(VIDEO_MEMORY{kProcess}),
                                      sizeof(VIDEO_MEMORY_INFORMATION));
  ASSERT_EQ(r.status, NO_ERROR);
  EXPECT_EQ(calls_of(b.m, "VideoPortMapMemory"),
            (std::vector<std::string>{"VideoPortMapMemory phys " + hex(b.range_start(0)) +
                                      " length 0x400000 memory process 0x4D0"}));
  ASSERT_EQ(b.m.client_mappings().size(), 1u);
  EXPECT_EQ(b.m.client_mappings()[0]->process, kProcess);
}

TEST(Mapping, MappedVideoMemoryIsTheBoardsMemory) {
  BoardToMap b(8 * kMiB);
  ASSERT_EQ(b.client.set_mode(50), NO_ERROR);  // visible frame 1024 bytes in
  const auto memory = b.client.map_video_memory();
  ASSERT_EQ(memory.status, NO_ERROR);
  uint8_t *vram = b.m.board(3).vram();

  memory.ram[0x1234] = 0x5A;
  memory.frame[0] = 0xA5;
  memory.ram[8 * kMiB - 1] = 0x3C;
  EXPECT_EQ(vram[0x1234], 0x5A);
  EXPECT_EQ(vram[1024], 0xA5);
  EXPECT_EQ(vram[8 * kMiB - 1], 0x3C);
  vram[0x2000] = 0x77;
  EXPECT_EQ(memory.ram[0x2000], 0x77);
}

// A display driver maps and unmaps video memory at every mode change, and a
// view may be shared with another process meanwhile: every one of those
// views is the board's memory, and an unmapped one is gone.
TEST(Mapping, EveryViewOfVideoMemoryIsTheBoardsAndAnUnmappedOneIsGone) {
  BoardToMap b(4 * kMiB);
  uint8_t *vram = b.m.board(3).vram();
  const auto first = b.client.map_video_memory();
  ASSERT_EQ(first.status, NO_ERROR);
  first.ram[0x10] = 0x11;
  const auto second = b.client.map_video_memory();  // while the first is mapped
  ASSERT_EQ(second.status, NO_ERROR);
  EXPECT_NE(second.ram, first.ram);
  EXPECT_EQ(second.ram[0x10], 0x11);
  second.ram[4 * kMiB - 1] = 0x22;
  EXPECT_EQ(first.ram[4 * kMiB - 1], 0x22);
  const auto shared = b.client.share_video_memory(reinterpret_cast<HANDLE>(0x1111), 0x1000, 0x10000);
  ASSERT_EQ(shared.status, NO_ERROR);
  static_cast<uint8_t *>(shared.info.VirtualAddress)[0x1020] = 0x33;  // the view begins at the memory's start
  EXPECT_EQ(vram[0x1020], 0x33);

  EXPECT_EQ(b.client.unmap_video_memory(first.ram), NO_ERROR);
  EXPECT_EQ(b.client.unmap_video_memory(second.ram), NO_ERROR);
  for (int round = 0; round < 3; round++) {
    SCOPED_TRACE(round);
    const auto again = b.client.map_video_memory();
    ASSERT_EQ(again.status, NO_ERROR);
    EXPECT_EQ(again.ram[0x10], 0x11);
    EXPECT_EQ(again.ram[0x1020], 0x33);
    EXPECT_EQ(again.ram[4 * kMiB - 1], uint8_t(0x22 + round));
    again.ram[4 * kMiB - 1] = uint8_t(0x23 + round);
    vram[0x30] = uint8_t(round);
    EXPECT_EQ(again.ram[0x30], round);
    EXPECT_EQ(b.client.unmap_video_memory(again.ram), NO_ERROR);
  }
  volatile uint8_t *stale = first.ram;
  EXPECT_DEATH(stale[0x10] = 0x44, "");
  EXPECT_EQ(vram[0x10], 0x11);
}

TEST(Mapping, FailedVideoMemoryMappingReportsTheServicesStatus) {
  BoardToMap b(4 * kMiB, {{"VideoPortMapMemory", 1, ERROR_NOT_ENOUGH_MEMORY}});
  const RequestResult r = b.m.request(0, IOCTL_VIDEO_MAP_VIDEO_MEMORY,
                                      bytes_of(VIDEO_MEMORY{nullptr}),
                                      sizeof(VIDEO_MEMORY_INFORMATION));
  EXPECT_EQ(r.status, ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(record_at<VIDEO_MEMORY_INFORMATION>(r.system_buffer).VideoRamLength, 4 * kMiB);
  // The system hands a failed request's reply to nobody.
  EXPECT_EQ(r.output, std::vector<uint8_t>(sizeof(VIDEO_MEMORY_INFORMATION), 0));
  EXPECT_THAT(b.m.client_mappings(), IsEmpty());
}

// ---- Public register ranges ---------------------------------------------------------------------

TEST(Mapping, PublicRangesAreMappedInOrderAndReleasedInOrder) {
  BoardToMap b(4 * kMiB);
  const RequestResult r = b.m.request(0, IOCTL_VIDEO_QUERY_PUBLIC_ACCESS_RANGES, {}, kPublicRanges);
  ASSERT_EQ(r.status, NO_ERROR);
  EXPECT_EQ(r.information, kPublicRanges);
  const std::string r2 = hex(b.range_start(2)), r4 = hex(b.range_start(4));
  EXPECT_EQ(calls_of(b.m, "VideoPortMapMemory"),
            (std::vector<std::string>{"VideoPortMapMemory phys " + r2 + " length 0x2000 memory",
                                      "VideoPortMapMemory phys " + r4 + " length 0x10000 memory"}));

  // Ranges 2 and 4 mapped in memory space; every field of the others is 0.
  for (size_t i = 0; i < 7; i++) {
    SCOPED_TRACE(i);
    const size_t at = i * sizeof(VIDEO_PUBLIC_ACCESS_RANGES);
    const auto record = record_at<VIDEO_PUBLIC_ACCESS_RANGES>(r.output, at);
    EXPECT_EQ(record.InIoSpace, 0u);
    EXPECT_EQ(record.MappedInIoSpace, 0u);
    if (i == 2 || i == 4) {
      EXPECT_NE(record.VirtualAddress, nullptr);
    } else {
      EXPECT_EQ(std::vector<uint8_t>(r.output.begin() + static_cast<ptrdiff_t>(at),
                                     r.output.begin() + static_cast<ptrdiff_t>(at + sizeof record)),
                std::vector<uint8_t>(sizeof record, 0));
    }
  }
  EXPECT_EQ(b.m.client_mappings().size(), 2u);

  b.m.clear_trace();
  EXPECT_EQ(b.client.free_public_ranges(r.output), NO_ERROR);
  EXPECT_EQ(calls_of(b.m, "VideoPortUnmapMemory"),
            (std::vector<std::string>{"VideoPortUnmapMemory phys " + r2,
                                      "VideoPortUnmapMemory phys " + r4}));
  EXPECT_THAT(b.m.client_mappings(), IsEmpty());
}

// The reply of a failed request never reaches its caller, who could then
// never release what it mapped: the driver releases it itself.
TEST(Mapping, FailedPublicRangeQueryMapsNoFurtherAndReleasesWhatItMapped) {
  const struct {
    uint64_t failing_call;
    std::vector<std::string> unmapped;
  } cases[] = {{1, {}}, {2, {"VideoPortUnmapMemory phys 0xC4000000"}}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.failing_call);
    BoardToMap b(4 * kMiB, {{"VideoPortMapMemory", c.failing_call, ERROR_NOT_ENOUGH_MEMORY}});
    const RequestResult r = b.m.request(0, IOCTL_VIDEO_QUERY_PUBLIC_ACCESS_RANGES, {},
                                        7 * sizeof(VIDEO_PUBLIC_ACCESS_RANGES));
    EXPECT_EQ(r.status, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(calls_of(b.m, "VideoPortMapMemory").size(), c.failing_call);
    EXPECT_EQ(calls_of(b.m, "VideoPortUnmapMemory"), c.unmapped);
    EXPECT_THAT(b.m.client_mappings(), IsEmpty());
    EXPECT_EQ(r.output, std::vector<uint8_t>(7 * sizeof(VIDEO_PUBLIC_ACCESS_RANGES), 0));
  }
}

TEST(Mapping, ReleaseLeavesRangesMappedInIoSpaceAlone) {
  BoardToMap b(4 * kMiB);
  auto ranges = b.client.query_public_ranges();
  ASSERT_EQ(ranges.status, NO_ERROR);
  VIDEO_PUBLIC_ACCESS_RANGES &record2 =
      *reinterpret_cast<VIDEO_PUBLIC_ACCESS_RANGES *>(ranges.bytes.data() +
                                                       2 * sizeof(VIDEO_PUBLIC_ACCESS_RANGES));
  record2.MappedInIoSpace = 1;
  b.m.clear_trace();
  EXPECT_EQ(b.client.free_public_ranges(ranges.bytes), NO_ERROR);
  EXPECT_EQ(calls_of(b.m, "VideoPortUnmapMemory"),
            (std::vector<std::string>{"VideoPortUnmapMemory phys " + hex(b.range_start(4))}));
  ASSERT_EQ(b.m.client_mappings().size(), 1u);
  EXPECT_EQ(b.m.client_mappings()[0]->phys, b.range_start(2));
}

TEST(Mapping, ReleaseVisitsEveryRecordAndReportsTheLastFailure) {
  const struct {
    std::vector<host::ServiceFault> faults;
    VP_STATUS status;
  } cases[] = {
      {{{"VideoPortUnmapMemory", 1, 0x1111}}, 0x1111},
      {{{"VideoPortUnmapMemory", 1, 0x1111}, {"VideoPortUnmapMemory", 2, 0x2222}}, 0x2222},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.status);
    BoardToMap b(4 * kMiB, c.faults);
    const auto ranges = b.client.query_public_ranges();
    ASSERT_EQ(ranges.status, NO_ERROR);
    b.m.clear_trace();
    EXPECT_EQ(b.client.free_public_ranges(ranges.bytes), c.status);
    EXPECT_EQ(calls_of(b.m, "VideoPortUnmapMemory").size(), 2u);
  }
}

// ---- Shared views -------------------------------------------------------------------------------

TEST(Mapping, SharedViewMustLieInsideVideoMemoryAndStartsAtItsStart) {
  const struct {
    ULONG offset, size;
    bool accepted;
  } cases[] = {
      {0x1000, 0x3FF000, true},  {0, 0x400000, true},       {0x3FF000, 0x1000, true},
      {0x1000, 0x3FF001, false}, {0x100, 0xFFFFFFFF, false}, {0x400001, 0, false},
      {0xFFFFFFFF, 1, false},
      // A view of nothing, even at the very end of video memory, is no view.
      {0x400000, 0, false},      {0, 0, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(::testing::Message() << "offset " << hex(c.offset) << " size " << hex(c.size));
    BoardToMap b(4 * kMiB);
    const std::vector<uint8_t> input =
        bytes_of(VIDEO_SHARE_MEMORY{kProcess, c.offset, c.size, nullptr});
    const RequestResult r = b.m.request(0, IOCTL_VIDEO_SHARE_VIDEO_MEMORY, input,
                                        sizeof(VIDEO_SHARE_MEMORY_INFORMATION));
    if (!c.accepted) {
      EXPECT_EQ(r.status, ERROR_INVALID_PARAMETER);
      EXPECT_FALSE(r.information_written);
      EXPECT_THAT(briefs(b.m.trace()), IsEmpty());
      EXPECT_THAT(b.m.client_mappings(), IsEmpty());
      continue;
    }
    EXPECT_EQ(r.status, NO_ERROR);
    EXPECT_EQ(r.information, sizeof(VIDEO_SHARE_MEMORY_INFORMATION));
    // The view begins at video memory's start whatever the offset asked.
    EXPECT_EQ(calls_of(b.m, "VideoPortMapMemory"),
              (std::vector<std::string>{"VideoPortMapMemory phys " + hex(b.range_start(0)) +
                                        " length " + hex(c.size) + " memory process 0x4D0"}));
    const auto info = record_at<VIDEO_SHARE_MEMORY_INFORMATION>(r.output);
    EXPECT_EQ(info.SharedViewOffset, c.offset);
    EXPECT_EQ(info.SharedViewSize, c.size);
    ASSERT_NE(info.VirtualAddress, nullptr);
    b.m.board(3).vram()[0] = 0x3C;
    EXPECT_EQ(static_cast<uint8_t *>(info.VirtualAddress)[0], 0x3C);
    b.m.clear_trace();
    EXPECT_EQ(b.client.unshare_video_memory(kProcess, info.VirtualAddress), NO_ERROR);
    EXPECT_EQ(calls_of(b.m, "VideoPortUnmapMemory"),
              (std::vector<std::string>{"VideoPortUnmapMemory phys " + hex(b.range_start(0)) +
                                        " process 0x4D0"}));
    EXPECT_THAT(b.m.client_mappings(), IsEmpty());
  }
}

}  // namespace
}  // namespace torvic::test
