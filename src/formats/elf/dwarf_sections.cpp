// Finding and reading the DWARF sections of an ELF file.
#include "formats/elf/dwarf_sections.h"

#include <cstring>
#include <string>

#include "common/alert.h"
#include "model/run.h"

namespace dwarf {

namespace {

struct SectionName {
    const char* name;
    const char* split; // its name in a split unit's file, or nullptr
    const char* description;
};

const SectionName SECTION_NAMES[SECTION_COUNT] = {
    {".debug_str", ".debug_str.dwo", "string table"},
    {".debug_abbrev", ".debug_abbrev.dwo", "abbreviation table"},
    {".debug_info", ".debug_info.dwo", "debug contributions"},
    {".debug_line", ".debug_line.dwo", "line number information"},
    {".debug_frame", nullptr, "call frame information"},
    {".debug_pubnames", nullptr, "name lookup table"},
    {".debug_pubtypes", nullptr, "name lookup table"},
    {".debug_aranges", nullptr, "address range table"},
    {".debug_macinfo", ".debug_macinfo.dwo", "macro information"},
    {".debug_loc", ".debug_loc.dwo", "location lists"},
    {".debug_ranges", nullptr, "address ranges"},
    {".debug_str_offsets", ".debug_str_offsets.dwo", "string offsets table"},
    {".debug_line_str", nullptr, "line string table"},
    {".debug_addr", nullptr, "address table"},
    {".debug_rnglists", ".debug_rnglists.dwo", "range lists"},
    {".debug_loclists", ".debug_loclists.dwo", "location lists"},
    {".debug_types", ".debug_types.dwo", "type units"},
    {".debug_macro", ".debug_macro.dwo", "macro units"},
    {".debug_names", nullptr, "name index"},
};

} // namespace

SectionSet::SectionSet(Run& run, ByteReader& file, bool split)
    : run_(run), file_(file), split_(split) {
    for (unsigned k = 0; k < SECTION_COUNT; ++k) {
        const SectionName& n = SECTION_NAMES[k];
        sections_[k].name = split && n.split ? n.split : n.name;
        sections_[k].description = n.description;
    }
}

void SectionSet::take(std::string_view name, uint32_t offset, uint32_t size) {
    for (unsigned k = 0; k < SECTION_COUNT; ++k) {
        const SectionName& n = SECTION_NAMES[k];
        const char* own = split_ ? n.split : n.name;
        if (own && name == own) {
            sections_[k].found = true;
            sections_[k].offset = offset;
            sections_[k].size = size;
            sections_[k].instances.push_back({offset, size});
        }
    }
}

void SectionSet::load(SectionId id, bool report) {
    Section& section = sections_[id];
    if (!section.found || !section.bytes.empty()) return;
    section.unreadable = !file_.read_at(section.offset, section.size, &section.bytes);
    if (section.unreadable) {
        section.bytes.clear();
        if (report) message(run_.messages, 666, section.name, section.description);
    }
}

void SectionSet::release(SectionId id) {
    sections_[id].bytes = std::vector<uint8_t>();
}

void SectionSet::select(SectionId id, size_t k) {
    Section& section = sections_[id];
    release(id);
    section.unreadable = false;
    section.offset = section.instances[k].first;
    section.size = section.instances[k].second;
}

ByteReader SectionSet::reader(SectionId id) const {
    const std::vector<uint8_t>& bytes = sections_[id].bytes;
    return ByteReader(bytes.data(), bytes.size(), file_.order());
}

const char* SectionSet::string_at(SectionId id, uint64_t offset, size_t* length) const {
    const std::vector<uint8_t>& strings = sections_[id].bytes;
    if (offset >= strings.size()) return nullptr;
    const void* end = memchr(strings.data() + offset, 0, strings.size() - offset);
    if (!end) return nullptr;
    *length = size_t(static_cast<const uint8_t*>(end) - (strings.data() + offset));
    return reinterpret_cast<const char*>(strings.data() + offset);
}

void find_sections(Run& run, const std::vector<ElfSectionHeader>& headers,
                   const std::vector<uint8_t>& section_names, SectionSet* program,
                   SectionSet* split) {
    for (const ElfSectionHeader& section : headers) {
        if (section.name >= section_names.size()) {
            alert(run.messages, "W", "Invalid ELF section header. Skipping.");
            continue;
        }
        const char* name = reinterpret_cast<const char*>(section_names.data()) + section.name;
        std::string_view text(name, strnlen(name, section_names.size() - section.name));
        if (text.empty()) continue;
        program->take(text, section.offset, section.size);
        split->take(text, section.offset, section.size);
    }
}

} // namespace dwarf
