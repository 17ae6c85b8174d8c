// The DWARF dump's tables: name lookup (.debug_pubnames), address ranges
// (.debug_aranges), macros (.debug_macinfo, .debug_macro), and the tables of later
// versions, each shown only when the file has it: string offsets (.debug_str_offsets),
// line strings (.debug_line_str, at -v as the string table), addresses (.debug_addr),
// range and location lists, and the name index (.debug_names).
#include "common/alert.h"
#include "common/options.h"
#include "formats/elf/dwarf_constants.h"
#include "formats/elf/dwarf_dump.h"
#include "formats/elf/dwarf_lookup.h"
#include "formats/elf/dwarf_macros.h"

namespace dwarf {

namespace {

void print_sized(uint64_t value, unsigned size) {
    if (size == 8)
        printf("0x%016llX", static_cast<unsigned long long>(value));
    else
        printf("0x%08lX", static_cast<unsigned long>(value));
}

} // namespace

// The heading of a set of a version 5 section and its length and version; false when
// the set cannot be dumped, which ends the section.
bool DwarfDump::set_heading(unsigned number, const SetHeader& set, SetStart start) {
    printf("\nSet %u @ 0x%08lX\n", number, static_cast<unsigned long>(set.offset));
    if (start == SetStart::FAILED) return false;
    printf("size=%lu, ver=%u", static_cast<unsigned long>(set.length), set.version);
    if (start == SetStart::OK) return true;
    printf("\n");
    return false;
}

void DwarfDump::dump_pubnames() {
    sections_.load(PUBNAMES);
    if (!heading(PUBNAMES)) return;
    ByteReader in = sections_.reader(PUBNAMES);
    LookupSet set;
    for (unsigned number = 1; in.position() < in.size(); ++number) {
        printf("\nSet %u @ 0x%08lX\n", number, static_cast<unsigned long>(in.position()));
        if (read_name_set(run, in, sections_[PUBNAMES], &set) == LookupRead::STOP) return;
        printf("size=%lu, ver=%u, offs=0x%08lX, debug size=%lu\n",
               static_cast<unsigned long>(set.length), unsigned(set.version),
               static_cast<unsigned long>(set.info_offset),
               static_cast<unsigned long>(set.info_size));
        uint32_t offset = 0;
        std::string name;
        while (read_lookup_name(in, set, &offset, &name))
            printf("  0x%08lX: \"%s\"\n", static_cast<unsigned long>(offset), name.c_str());
        if (!in.ok())
            message(run.messages, 422, sections_[PUBNAMES].name, unsigned(set.offset), "set");
        in = sections_.reader(PUBNAMES);
        in.seek(set.next);
    }
}

void DwarfDump::dump_aranges() {
    sections_.load(ARANGES);
    if (!heading(ARANGES)) return;
    ByteReader in = sections_.reader(ARANGES);
    LookupSet set;
    for (unsigned number = 1; in.position() < in.size(); ++number) {
        printf("\nSet %u @ 0x%08lX\n", number, static_cast<unsigned long>(in.position()));
        if (read_range_set(run, in, sections_[ARANGES], &set) == LookupRead::STOP) return;
        printf("size=%lu, ver=%u, offs=0x%08lX addrsize=%u, segsize=%u%s\n",
               static_cast<unsigned long>(set.length), unsigned(set.version),
               static_cast<unsigned long>(set.info_offset), unsigned(set.address_size),
               unsigned(set.segment_size), set.segment_size == 0 ? " (flat)" : "");
        // The size read here is the one the sections dumped later read addresses with.
        address_size_ = set.address_size;
        uint64_t address = 0, length = 0;
        while (read_range(in, set, &address, &length))
            printf("  0x%08llX..0x%08llX\n", static_cast<unsigned long long>(address),
                   static_cast<unsigned long long>(address + length));
        in = sections_.reader(ARANGES);
        in.seek(set.next);
    }
}

void DwarfDump::dump_macinfo() {
    sections_.load(MACINFO_SECTION);
    if (!heading(MACINFO_SECTION)) return;
    ByteReader in = sections_.reader(MACINFO_SECTION);
    unsigned number = 0;
    bool open = false;
    MacinfoEntry entry;
    while (in.ok() && in.position() < in.size()) {
        if (!open) {
            printf("\nSet %u @ 0x%08lX\n", ++number, static_cast<unsigned long>(in.position()));
            open = true;
        }
        if (!read_macinfo_entry(in, &entry)) break;
        const char* name = MACINFO.full(entry.type, 2);
        if (entry.type == 0)
            open = false;
        else if (entry.type == 3)
            printf("  %s(%lld, %lld)\n", name, static_cast<long long>(entry.line),
                   static_cast<long long>(entry.file));
        else if (entry.type == 1 || entry.type == 2 || entry.type == 255)
            printf("  %s(%lld, \"%s\")\n", name, static_cast<long long>(entry.line),
                   entry.text.c_str());
        else
            printf("  %s\n", name);
    }
    if (!in.ok())
        message(run.messages, 422, sections_[MACINFO_SECTION].name, unsigned(in.position()),
                "section");
}

// Every section of macro units the file has (an object file has one for each group of
// them).
void DwarfDump::dump_macros() {
    for (size_t k = 0; k < sections_[MACRO_SECTION].instances.size(); ++k) {
        sections_.select(MACRO_SECTION, k);
        sections_.load(MACRO_SECTION);
        heading(MACRO_SECTION);
        dump_macro_units();
    }
}

void DwarfDump::dump_macro_units() {
    UnitContext unit = UnitContext::of_version(5, &sections_, MACRO_SECTION);
    unit.str_offsets_base = str_offsets_base_;
    ByteReader in = sections_.reader(MACRO_SECTION);
    MacroUnitHeader header;
    MacroEntry entry;
    for (unsigned number = 1; in.position() < in.size(); ++number) {
        printf("\nSet %u @ 0x%08lX\n", number, static_cast<unsigned long>(in.position()));
        if (!read_macro_header(run, in, sections_[MACRO_SECTION], &header)) return;
        printf("ver=%u, flags=0x%02X", header.version, unsigned(header.flags));
        if (header.has_line_offset)
            printf(", line offset=0x%08llX", static_cast<unsigned long long>(header.line_offset));
        printf("\n");
        for (const auto& [type, forms] : header.operand_forms) {
            printf("  operands of 0x%02X:", unsigned(type));
            for (uint8_t form : forms)
                printf(" %s", FORM.full(form, 5));
            printf("\n");
        }
        unit.offset_size = header.offset_size;
        for (;;) {
            MacroEntryRead read =
                read_macro_entry(run, in, sections_[MACRO_SECTION], header, unit, &entry);
            if (read != MacroEntryRead::OK) return;
            if (entry.type == 0) break;
            print_macro_entry(entry, header.version);
        }
    }
}

void DwarfDump::print_macro_entry(const MacroEntry& e, unsigned version) {
    printf("  %s", MACRO.full(e.type, version));
    const MacroOperand kinds[2] = {e.layout.first, e.layout.second};
    const bool described = !e.layout.known;
    const size_t count = described                        ? e.operands.size()
                         : kinds[1] != MacroOperand::NONE ? 2
                         : kinds[0] != MacroOperand::NONE ? 1
                                                          : 0;
    for (size_t k = 0; k < count; ++k) {
        printf(k == 0 ? "(" : ", ");
        if (described) {
            const FormValue& v = e.operands[k];
            if (v.kind == FormValue::STRING && v.text)
                print_string(v.text, v.text_length);
            else
                printf("0x%08llX", static_cast<unsigned long long>(v.number));
            continue;
        }
        switch (kinds[k]) {
        case MacroOperand::LINE:
        case MacroOperand::FILE: printf("%lld", static_cast<long long>(e.values[k])); break;
        case MacroOperand::STRING:
        case MacroOperand::STRP:
        case MacroOperand::STRX:
            if (e.text)
                print_string(e.text, e.text_length);
            else if (kinds[k] == MacroOperand::STRX)
                printf("?? Invalid string index: 0x%08llX",
                       static_cast<unsigned long long>(e.values[k]));
            else
                printf("?? Invalid string table offset: 0x%08lX",
                       static_cast<unsigned long>(e.values[k]));
            break;
        default: printf("0x%08lX", static_cast<unsigned long>(e.values[k])); break;
        }
    }
    printf("%s\n", count ? ")" : "");
}

// ---- Tables of later versions ----

void DwarfDump::dump_later_sections() {
    const SectionSet& s = sections_;
    if (s[STR_OFFSETS].found) dump_str_offsets();
    if (s[LINE_STR].found && run.options.verbose_level != 0 && heading(LINE_STR))
        dump_strings(LINE_STR);
    if (s[ADDR].found) dump_addresses();
    if (s[RNGLISTS].found) dump_list_sets(RNGLISTS);
    if (s[LOCLISTS].found) dump_list_sets(LOCLISTS);
    if (s[NAMES].found) dump_names();
}

void DwarfDump::dump_str_offsets() {
    heading(STR_OFFSETS);
    ByteReader in = sections_.reader(STR_OFFSETS);
    std::vector<uint32_t> offsets;
    if (sections_.split() && unit_version_ == 4) {
        // The split units of version 4 index a table without a header.
        read_string_offsets(in, in.size(), false, &offsets);
        print_string_offsets(offsets);
        return;
    }
    for (unsigned number = 1; in.position() < in.size(); ++number) {
        SetHeader set;
        if (!set_heading(number, set, read_set_header(run, in, sections_[STR_OFFSETS], &set)))
            return;
        read_string_offsets(in, set.end, true, &offsets);
        printf("\n");
        print_string_offsets(offsets);
        in.seek(set.end);
    }
}

void DwarfDump::print_string_offsets(const std::vector<uint32_t>& offsets) {
    for (size_t index = 0; index < offsets.size(); ++index) {
        size_t length = 0;
        const char* text = sections_.string_at(STR, offsets[index], &length);
        printf("  %5u: 0x%08lX ", unsigned(index), static_cast<unsigned long>(offsets[index]));
        if (text) {
            // Any number of offsets may name one string.
            charge(length);
            print_string(text, length);
        } else {
            printf("?? Invalid string table offset");
        }
        printf("\n");
    }
}

void DwarfDump::dump_addresses() {
    heading(ADDR);
    ByteReader in = sections_.reader(ADDR);
    std::vector<uint64_t> addresses;
    if (unit_version_ == 4 && known_address_size(address_size_)) {
        // The skeleton units of version 4 (GNU split DWARF) index a table without a header.
        read_address_table(in, in.size(), address_size_, &addresses);
        print_addresses(addresses, address_size_);
        return;
    }
    for (unsigned number = 1; in.position() < in.size(); ++number) {
        SetHeader set;
        if (!set_heading(number, set, read_set_header(run, in, sections_[ADDR], &set))) return;
        unsigned address_size = 0, segment_size = 0;
        bool readable =
            read_addresses(run, in, sections_[ADDR], set, &address_size, &segment_size, &addresses);
        printf(", addrsize=%u, segsize=%u\n", address_size, segment_size);
        if (!readable) return;
        print_addresses(addresses, address_size);
        in.seek(set.end);
    }
}

void DwarfDump::print_addresses(const std::vector<uint64_t>& addresses, unsigned address_size) {
    for (size_t index = 0; index < addresses.size(); ++index) {
        printf("  %5u: ", unsigned(index));
        print_sized(addresses[index], address_size);
        printf("\n");
    }
}

// ---- The name index ----

void DwarfDump::dump_names() {
    sections_.load(NAMES);
    heading(NAMES);
    ByteReader in = sections_.reader(NAMES);
    NameIndexReader index(sections_, in);
    NameIndexHeader header;
    for (unsigned number = 1; in.position() < in.size(); ++number) {
        NameIndexReader::Start start = index.header(&header);
        SetStart set_start = start == NameIndexReader::Start::FAILED        ? SetStart::FAILED
                             : start == NameIndexReader::Start::BAD_VERSION ? SetStart::BAD_VERSION
                                                                            : SetStart::OK;
        if (!set_heading(number, header.set, set_start)) return;
        printf(", CUs=%lu, local TUs=%lu, foreign TUs=%lu, buckets=%lu, names=%lu, abbrev "
               "size=%lu, augmentation=",
               static_cast<unsigned long>(header.comp_units),
               static_cast<unsigned long>(header.local_type_units),
               static_cast<unsigned long>(header.foreign_type_units),
               static_cast<unsigned long>(header.buckets), static_cast<unsigned long>(header.names),
               static_cast<unsigned long>(header.abbrev_size));
        print_string(header.augmentation.data(), header.augmentation.size());
        printf("\n");
        if (start == NameIndexReader::Start::OK) print_name_index(index, header);
        in.seek(header.set.end);
    }
}

void DwarfDump::print_name_index(NameIndexReader& index, const NameIndexHeader& h) {
    for (uint32_t k = 0; k < h.comp_units; ++k)
        printf("  CU %5lu: 0x%08lX\n", static_cast<unsigned long>(k),
               static_cast<unsigned long>(index.comp_unit(k)));
    for (uint32_t k = 0; k < h.local_type_units; ++k)
        printf("  local TU %5lu: 0x%08lX\n", static_cast<unsigned long>(k),
               static_cast<unsigned long>(index.local_type_unit(k)));
    for (uint32_t k = 0; k < h.foreign_type_units; ++k)
        printf("  foreign TU %5lu: 0x%016llX\n", static_cast<unsigned long>(k),
               static_cast<unsigned long long>(index.foreign_type_unit(k)));
    for (uint32_t k = 0; k < h.buckets; ++k)
        printf("  bucket %5lu: %lu\n", static_cast<unsigned long>(k),
               static_cast<unsigned long>(index.bucket(k)));
    printf("Abbreviations:\n");
    for (const IndexAbbreviation& a : index.abbreviations()) {
        printf("  %5.5lu: %s", static_cast<unsigned long>(a.code), TAG.full(a.tag, 5));
        for (const auto& [attribute, form] : a.attributes)
            printf(" %s[%s]", IDX.full(attribute, 5), FORM.full(form, 5));
        printf("\n");
    }
    print_index_names(index, h);
}

void DwarfDump::print_index_names(NameIndexReader& index, const NameIndexHeader& h) {
    printf("Names:\n");
    for (uint32_t k = 0; k < h.names; ++k) {
        size_t length = 0;
        uint64_t offset = index.string_offset(k);
        const char* text = sections_.string_at(STR, offset, &length);
        printf("  %5lu: ", static_cast<unsigned long>(k + 1));
        if (h.buckets) printf("hash=0x%08lX ", static_cast<unsigned long>(index.hash(k)));
        if (text) {
            charge(length);
            print_string(text, length);
        } else {
            printf("?? Invalid string table offset");
        }
        printf(" (0x%08lX) entries @ 0x%08lX\n", static_cast<unsigned long>(offset),
               static_cast<unsigned long>(index.entry_offset(k)));
        bool readable = index.entries(index.entry_offset(k), [&](const IndexEntry& e) {
            printf("         0x%08lX: %s", static_cast<unsigned long>(e.offset),
                   TAG.full(e.abbreviation->tag, 5));
            for (size_t f = 0; f < e.values.size(); ++f) {
                const FormValue& v = e.values[f];
                printf(" %s=", IDX.full(e.abbreviation->attributes[f].first, 5));
                if (v.kind == FormValue::FLAG)
                    printf("%s", bool_text(v.number != 0));
                else
                    printf("0x%08llX", static_cast<unsigned long long>(v.number));
            }
            printf("\n");
        });
        if (!readable) return;
    }
}

} // namespace dwarf
