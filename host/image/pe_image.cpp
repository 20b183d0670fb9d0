// SPDX-License-Identifier: MIT
// The PE32 loader (pe_image.h): torvic.sys mapped, relocated and bound to
// the video port services as NT's loader does.
#include "host/image/pe_image.h"

#include <cxxabi.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <strings.h>

#include "host/common/guarded_memory.h"
#include "host/image/service_exports.h"
#include "host/common/text.h"

namespace torvic::host {

namespace {

// The parts of the PE/COFF format the loader reads, at their file offsets.
constexpr uint16_t kMachineI386 = 0x14C;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kSubsystemNative = 1;
constexpr uint16_t kFileExecutable = 0x0002;
constexpr uint16_t kFileRelocsStripped = 0x0001;
constexpr uint32_t kScnUninitialisedData = 0x00000080;
constexpr uint32_t kScnExecute = 0x20000000;
constexpr uint32_t kScnRead = 0x40000000;
constexpr uint32_t kScnWrite = 0x80000000;
constexpr int kDirImport = 1;
constexpr int kDirBaseReloc = 5;
constexpr uint16_t kRelAbsolute = 0;
constexpr uint16_t kRelHighLow = 3;
constexpr uint32_t kImportByOrdinal = 0x80000000;
constexpr uint16_t kSymbolTypeFunction = 0x20;

struct CoffHeader {
  uint16_t machine;
  uint16_t number_of_sections;
  uint32_t time_date_stamp;
  uint32_t pointer_to_symbol_table;
  uint32_t number_of_symbols;
  uint16_t size_of_optional_header;
  uint16_t characteristics;
};
static_assert(sizeof(CoffHeader) == 20);

struct DataDirectory {  // an entry of the optional header
  uint32_t rva;
  uint32_t size;
};

struct OptionalHeader32 {
  uint16_t magic;
  uint8_t linker_major, linker_minor;
  uint32_t size_of_code, size_of_initialized_data, size_of_uninitialized_data;
  uint32_t address_of_entry_point, base_of_code, base_of_data;
  uint32_t image_base, section_alignment, file_alignment;
  uint16_t os_major, os_minor, image_major, image_minor, subsystem_major, subsystem_minor;
  uint32_t win32_version, size_of_image, size_of_headers, checksum;
  uint16_t subsystem, dll_characteristics;
  uint32_t stack_reserve, stack_commit, heap_reserve, heap_commit;
  uint32_t loader_flags, number_of_rva_and_sizes;
  DataDirectory directories[16];
};
static_assert(sizeof(OptionalHeader32) == 224);

struct SectionHeader {
  char name[8];
  uint32_t virtual_size, virtual_address;
  uint32_t size_of_raw_data, pointer_to_raw_data;
  uint32_t pointer_to_relocations, pointer_to_line_numbers;
  uint16_t number_of_relocations, number_of_line_numbers;
  uint32_t characteristics;
};
static_assert(sizeof(SectionHeader) == 40);

struct ImportDescriptor {
  uint32_t lookup_table_rva, time_date_stamp, forwarder_chain, name_rva, address_table_rva;
};

#pragma pack(push, 1)
struct CoffSymbol {
  char name[8];
  uint32_t value;
  int16_t section_number;
  uint16_t type;
  uint8_t storage_class;
  uint8_t aux_count;
};
#pragma pack(pop)
static_assert(sizeof(CoffSymbol) == 18);

// The headers of a PE image, checked to lie within the bytes given.
struct Headers {
  CoffHeader coff{};
  OptionalHeader32 optional{};
  std::vector<SectionHeader> sections;
};

template <class T>
bool read_at(const std::vector<uint8_t> &bytes, uint64_t offset, T *out) {
  if (offset + sizeof(T) > bytes.size()) return false;
  memcpy(out, bytes.data() + offset, sizeof(T));
  return true;
}

// Reads the headers; an empty string when they are sound, else the reason.
std::string read_headers(const std::vector<uint8_t> &file, Headers *h) {
  uint32_t pe_offset = 0;
  uint32_t signature = 0;
  if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') return "not an MZ executable";
  if (!read_at(file, 0x3C, &pe_offset) || !read_at(file, pe_offset, &signature) ||
      signature != 0x00004550)
    return "no PE signature";
  if (!read_at(file, uint64_t{pe_offset} + 4, &h->coff)) return "truncated COFF header";
  if (h->coff.size_of_optional_header < sizeof(OptionalHeader32) ||
      !read_at(file, uint64_t{pe_offset} + 24, &h->optional))
    return "truncated optional header";
  const uint64_t table = uint64_t{pe_offset} + 24 + h->coff.size_of_optional_header;
  for (uint16_t i = 0; i < h->coff.number_of_sections; i++) {
    SectionHeader s{};
    if (!read_at(file, table + uint64_t{i} * sizeof(SectionHeader), &s)) return "truncated section table";
    h->sections.push_back(s);
  }
  return "";
}

std::string section_name(const SectionHeader &s) {
  return std::string(s.name, strnlen(s.name, sizeof s.name));
}

// "_Torvic_ResetHw@12" -> "Torvic_ResetHw"; C++ names demangled.
std::string undecorate(std::string name) {
  if (!name.empty() && name[0] == '_') name.erase(0, 1);
  if (const auto at = name.rfind('@'); at != std::string::npos && at > 0) name.erase(at);
  if (name.rfind("_Z", 0) == 0) {
    int status = 0;
    char *plain = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
    if (status == 0 && plain) name = plain;
    free(plain);
  }
  return name;
}

std::vector<uint8_t> read_file(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

PeImage::PeImage(const std::string &path, const std::vector<uint8_t> &file) : path_(path) {
  Headers h;
  if (const std::string why = read_headers(file, &h); !why.empty()) refuse(why);
  const OptionalHeader32 &o = h.optional;
  if (h.coff.machine != kMachineI386)
    refuse("machine " + hex(h.coff.machine) + " is not i386 (0x14C)");
  if (o.magic != kPe32Magic) refuse("not a PE32 image (optional header magic " +
                                    hex(o.magic) + ")");
  if (!(h.coff.characteristics & kFileExecutable)) refuse("not an executable image");
  if (o.subsystem != kSubsystemNative)
    refuse("subsystem " + std::to_string(o.subsystem) + " is not native (1): not a driver");
  if (h.coff.characteristics & kFileRelocsStripped)
    refuse("its relocations are stripped, so it cannot be loaded away from its base");
  if (o.section_alignment % page_size() != 0)
    refuse("section alignment " + hex(o.section_alignment) +
           " is not a multiple of the page size, so sections cannot have their own protection");
  if (o.number_of_rva_and_sizes <= kDirBaseReloc) refuse("too few data directories");
  if (o.size_of_headers > file.size() || o.size_of_headers > o.size_of_image)
    refuse("headers larger than the file or the image");
  preferred_base_ = o.image_base;

  // A fresh reservation; the image is never left at its preferred base, so
  // that every relocation the NT loader would apply is applied here too.
  size_ = (o.size_of_image + page_size() - 1) / page_size() * page_size();
  void *at = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (at != MAP_FAILED && reinterpret_cast<uintptr_t>(at) == preferred_base_) {
    void *again = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    munmap(at, size_);
    at = again;
  }
  if (at == MAP_FAILED) refuse("no address space for " + std::to_string(size_) + " bytes");
  base_ = static_cast<uint8_t *>(at);
  memcpy(base_, file.data(), o.size_of_headers);

  for (const SectionHeader &s : h.sections) {
    const uint64_t span = std::max(s.virtual_size, s.size_of_raw_data);
    if (s.virtual_address % page_size() != 0 || s.virtual_address + span > size_)
      refuse("section " + section_name(s) + " lies outside the image or off a page boundary");
    if (!(s.characteristics & kScnUninitialisedData)) {
      const uint32_t raw = std::min(s.size_of_raw_data, s.virtual_size ? s.virtual_size
                                                                       : s.size_of_raw_data);
      if (uint64_t{s.pointer_to_raw_data} + raw > file.size())
        refuse("section " + section_name(s) + " runs past the end of the file");
      memcpy(base_ + s.virtual_address, file.data() + s.pointer_to_raw_data, raw);
    }
    // The rest of the section, uninitialised data included, stays zero.
    Section mapped;
    mapped.name = section_name(s);
    mapped.rva = s.virtual_address;
    mapped.span = static_cast<uint32_t>((span + page_size() - 1) / page_size() * page_size());
    mapped.protection = ((s.characteristics & kScnRead) ? PROT_READ : 0) |
                        ((s.characteristics & kScnWrite) ? PROT_WRITE : 0) |
                        ((s.characteristics & kScnExecute) ? PROT_EXEC : 0);
    sections_.push_back(mapped);
  }
  for (const Section &s : sections_)
    if (s.name == "PAGE") pageable_ = &s;

  relocate(o.directories[kDirBaseReloc].rva, o.directories[kDirBaseReloc].size, o.image_base);
  bind_imports(o.directories[kDirImport].rva);
  read_symbols(file);
  if (o.address_of_entry_point == 0 || !executable(o.address_of_entry_point))
    refuse("its entry point " + hex(o.address_of_entry_point) +
           " is not in an executable section");
  protect();
  entry_ = reinterpret_cast<DriverEntryFn>(base_ + o.address_of_entry_point);
}

PeImage::~PeImage() {
  if (base_) munmap(base_, size_);
}

void PeImage::refuse(const std::string &why) const {
  if (base_) munmap(base_, size_);
  throw ImageRefused("cannot load the NT image " + path_ + ": " + why);
}

bool PeImage::executable(uint32_t rva) const {
  for (const Section &s : sections_)
    if (rva >= s.rva && rva < s.rva + s.span) return s.protection & PROT_EXEC;
  return false;
}

void PeImage::relocate(uint32_t rva, uint32_t length, uint32_t image_base) {
  const uint32_t delta = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(base_)) - image_base;
  if (uint64_t{rva} + length > size_) refuse("its relocation directory lies outside the image");
  uint32_t at = rva;
  const uint32_t end = rva + length;
  while (at + 8 <= end) {
    uint32_t page_rva = 0;
    uint32_t block_size = 0;
    memcpy(&page_rva, base_ + at, 4);
    memcpy(&block_size, base_ + at + 4, 4);
    if (block_size < 8 || at + block_size > end)
      refuse("relocation block at " + hex(at) + " has a bad size " +
             std::to_string(block_size));
    for (uint32_t e = at + 8; e + 2 <= at + block_size; e += 2) {
      uint16_t fixup = 0;  // type in the top 4 bits, offset in the page below
      memcpy(&fixup, base_ + e, 2);
      const uint16_t type = fixup >> 12;
      const uint32_t target = page_rva + (fixup & 0xFFF);
      if (type == kRelAbsolute) continue;  // padding that keeps blocks dword-sized
      if (type != kRelHighLow)
        refuse("relocation type " + std::to_string(type) + " at " + hex(target) +
               "; an i386 driver has only HIGHLOW (3)");
      if (uint64_t{target} + 4 > size_)
        refuse("relocation at " + hex(target) + " lies outside the image");
      uint32_t value = 0;
      memcpy(&value, base_ + target, 4);
      value += delta;
      memcpy(base_ + target, &value, 4);
    }
    at += block_size;
  }
}

void PeImage::bind_imports(uint32_t directory) {
  // A string inside the image, checked to end before the image does.
  auto string_at = [&](uint32_t rva) -> std::string {
    if (rva >= size_) refuse("an import name lies outside the image");
    const char *s = reinterpret_cast<const char *>(base_ + rva);
    const size_t n = strnlen(s, size_ - rva);
    if (n == size_ - rva) refuse("an import name runs past the end of the image");
    return std::string(s, n);
  };
  auto dword_at = [&](uint32_t rva) {
    if (uint64_t{rva} + 4 > size_) refuse("an import table lies outside the image");
    uint32_t v = 0;
    memcpy(&v, base_ + rva, 4);
    return v;
  };

  if (directory == 0) return;  // imports nothing
  const auto services = video_port_services();
  for (uint32_t d = directory;; d += sizeof(ImportDescriptor)) {
    if (uint64_t{d} + sizeof(ImportDescriptor) > size_)
      refuse("its import directory runs past the end of the image");
    ImportDescriptor descriptor{};
    memcpy(&descriptor, base_ + d, sizeof descriptor);
    if (descriptor.name_rva == 0 && descriptor.address_table_rva == 0) break;
    const std::string module = string_at(descriptor.name_rva);
    if (strcasecmp(module.c_str(), "videoprt.sys") != 0)
      refuse("it imports from " + module + "; a miniport imports from videoprt.sys only");

    const uint32_t names = descriptor.lookup_table_rva ? descriptor.lookup_table_rva
                                                       : descriptor.address_table_rva;
    for (uint32_t i = 0;; i++) {
      const uint32_t thunk = dword_at(names + 4 * i);
      if (thunk == 0) break;
      if (thunk & kImportByOrdinal)
        refuse("it imports ordinal " + std::to_string(thunk & 0xFFFF) + " of " + module +
               "; the video port's services are bound by name");
      const std::string name = string_at(thunk + 2);  // after the 16-bit hint
      const auto service = std::find_if(services.begin(), services.end(),
                                        [&](const ServiceExport &s) { return name == s.name; });
      if (service == services.end())
        refuse("it imports " + name + " from " + module +
               ", which the host video port does not provide");
      const uint32_t slot = descriptor.address_table_rva + 4 * i;
      dword_at(slot);  // refuses a slot outside the image
      const auto address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(service->address));
      memcpy(base_ + slot, &address, 4);
    }
  }
}

void PeImage::protect() {
  if (mprotect(base_, sections_.empty() ? size_ : sections_.front().rva, PROT_READ) != 0)
    refuse("cannot protect its headers");
  for (const Section &s : sections_)
    if (mprotect(base_ + s.rva, s.span, s.protection) != 0)
      refuse("cannot protect section " + s.name);
}

// Routine names come from the image's own COFF symbol table, or, for the
// stripped image that ships, from the unstripped image the build leaves
// beside it (same layout). Without either, stops give addresses only.
void PeImage::read_symbols(const std::vector<uint8_t> &file) {
  Headers headers;
  read_headers(file, &headers);
  const Headers *h = &headers;
  const std::vector<uint8_t> *bytes = &file;
  Headers sibling_headers;
  std::vector<uint8_t> sibling;
  if (h->coff.pointer_to_symbol_table == 0) {
    const std::filesystem::path p(path_);
    sibling = read_file(p.parent_path() / (p.stem().string() + "-unstripped" +
                                          p.extension().string()));
    if (sibling.empty() || !read_headers(sibling, &sibling_headers).empty() ||
        sibling_headers.optional.size_of_image != headers.optional.size_of_image ||
        sibling_headers.optional.image_base != headers.optional.image_base)
      return;
    h = &sibling_headers;
    bytes = &sibling;
  }

  const uint64_t table = h->coff.pointer_to_symbol_table;
  const uint64_t strings = table + sizeof(CoffSymbol) * uint64_t{h->coff.number_of_symbols};
  for (uint32_t i = 0; i < h->coff.number_of_symbols; i++) {
    CoffSymbol sym{};
    if (!read_at(*bytes, table + uint64_t{i} * sizeof sym, &sym)) return;
    const uint32_t skip = sym.aux_count;
    if ((sym.type & 0xF0) == kSymbolTypeFunction && sym.section_number > 0 &&
        static_cast<size_t>(sym.section_number) <= h->sections.size()) {
      std::string name;
      uint32_t zeroes = 0;
      memcpy(&zeroes, sym.name, 4);
      if (zeroes == 0) {
        uint32_t offset = 0;
        memcpy(&offset, sym.name + 4, 4);
        const uint64_t at = strings + offset;
        if (at < bytes->size()) {
          const char *s = reinterpret_cast<const char *>(bytes->data()) + at;
          name.assign(s, strnlen(s, static_cast<size_t>(bytes->size() - at)));
        }
      } else {
        name.assign(sym.name, strnlen(sym.name, sizeof sym.name));
      }
      const uint32_t rva = h->sections[sym.section_number - 1].virtual_address + sym.value;
      if (!name.empty()) routines_.push_back({rva, undecorate(name)});
    }
    i += skip;
  }
  std::sort(routines_.begin(), routines_.end(),
            [](const Routine &a, const Routine &b) { return a.rva < b.rva; });
}

bool PeImage::pageable(const void *address) const {
  const auto *a = static_cast<const uint8_t *>(address);
  return pageable_ && a >= base_ + pageable_->rva && a < base_ + pageable_->rva + pageable_->span;
}

void PeImage::set_pageable_present(bool present) {
  if (pageable_)
    mprotect(base_ + pageable_->rva, pageable_->span, present ? pageable_->protection : PROT_NONE);
}

std::string PeImage::routine_at(const void *address) const {
  const auto *a = static_cast<const uint8_t *>(address);
  if (a < base_ || a >= base_ + size_) return "";
  const uint32_t rva = static_cast<uint32_t>(a - base_);
  const auto after = std::upper_bound(routines_.begin(), routines_.end(), rva,
                                      [](uint32_t v, const Routine &r) { return v < r.rva; });
  if (after == routines_.begin()) return "";
  const Routine &r = *(after - 1);
  return r.name + "+" + hex(rva - r.rva);
}

}  // namespace torvic::host
