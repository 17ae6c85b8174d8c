// .COD files: detection and the dump (the writer is cod_writer.cpp and cod_symbols.cpp).
// There is no reader: a .COD file is only written and dumped.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "common/alert.h"
#include "common/binio.h"
#include "common/options.h"
#include "formats/cod/cod_internal.h"
#include "formats/descriptors.h"
#include "model/run.h"

namespace {

// The name of each symbol type, by its number.
const char* const SYMBOL_TYPE_NAMES[] = {
    "a_reg",
    "x_reg",
    "c_byte",
    "c_int",
    "c_ubyte",
    "c_uint",
    "c_pointer",
    "c_upointer",
    "table",
    "m_byte",
    "m_boolean",
    "m_index",
    "byte_array",
    "u_byte_array",
    "word_array",
    "u_word_array",
    "func_void_none",
    "func_void_byte",
    "func_void_twobyte",
    "func_void_long",
    "func_void_undef",
    "func_int_none",
    "func_int_byte",
    "func_int_twobyte",
    "func_int_long",
    "func_int_undef",
    "func_long_none",
    "func_long_byte",
    "func_long_twobyte",
    "func_long_long",
    "func_long_undef",
    "pfun_void_none",
    "pfun_void_byte",
    "pfun_void_twobyte",
    "pfun_void_long",
    "pfun_void_undef",
    "pfun_int_none",
    "pfun_int_byte",
    "pfun_int_twobyte",
    "pfun_int_long",
    "pfun_int_undef",
    "pfun_long_none",
    "pfun_long_byte",
    "pfun_long_twobyte",
    "pfun_long_long",
    "pfun_long_undef",
    "address",
    "constant",
    "bad_und",
    "br_und",
    "upper_und",
    "byte_und",
    "add_und",
    "m_keyword",
    "add_mi_und",
    "vector",
    "port_w",
    "port_r",
    "port_rw",
    "port_rmw",
    "endif",
    "exundef",
    "macro_t",
    "macro_s",
    "macro_a",
    "macro_c",
    "c_keyword",
    "c_void",
    "c_enum",
    "c_typedef1",
    "c_utypedef1",
    "c_typedef2",
    "c_utypedef2",
    "cp_typedef1",
    "cp_utypedef1",
    "cp_typedef2",
    "cp_utypedef2",
    "c_struct",
    "i_struct",
    "l_const",
    "s_short",
    "s_ushort",
    "s_long",
    "s_ulong",
    "sa_short",
    "sa_ushort",
    "sa_long",
    "sa_ulong",
    "sp_short",
    "sp_ushort",
    "sp_long",
    "sp_ulong",
    "FixedPointer",
    "PointerFunction",
    "cc_reg",
    "PtrF_void_none",
    "PtrF_void_byte",
    "PtrF_void_twobyte",
    "PtrF_void_long",
    "PtrF_void_undef",
    "PtrF_int_none",
    "PtrF_int_byte",
    "PtrF_int_twobyte",
    "PtrF_int_long",
    "PtrF_int_undef",
    "PtrF_long_none",
    "PtrF_long_byte",
    "PtrF_long_twobyte",
    "PtrF_long_long",
    "PtrF_long_undef",
    "PfAR_void_none",
    "PfAR_void_byte",
    "PfAR_void_twobyte",
    "PfAR_void_long",
    "PfAR_void_undef",
    "PfAR_int_none",
    "PfAR_int_byte",
    "PfAR_int_twobyte",
    "PfAR_int_long",
    "PfAR_int_undef",
    "PfAR_long_none",
    "PfAR_long_byte",
    "PfAR_long_twobyte",
    "PfAR_long_long",
    "PfAR_long_undef",
    "FWDlit",
    "PFunc",
    "mgoto",
    "mcgoto",
    "mcgoto2",
    "mcgoto3",
    "mcgoto4",
    "mcgoto74",
    "mcgoto17",
    "mccall17",
    "mcall",
    "mc_call",
    "res_word",
    "local",
    "unknown",
    "varlabel",
    "c_extern",
    "c_global",
    "segment",
    "Bankaddr",
    "bit_0",
    "bit_1",
    "bit_2",
    "bit_3",
    "bit_4",
    "bit_5",
    "bit_6",
    "bit_7",
    "debug",
    "Name_ID",
    "User_ID",
    "size_of",
    "uint24",
    "sint24",
    "uint32",
    "sint32",
    "fixed1616",
    "fixed168",
    "float",
    "ConstantFloat",
    "f_list",
    "float24",
    "float32",
    "s_sint24",
    "s_uint24",
    "p_sint24",
    "p_uint24",
    "s_sint32",
    "s_uint32",
    "p_sint32",
    "p_uint32",
    "s_fixed168",
    "p_fixed168",
    "s_fixed1616",
    "p_fixed1616",
    "s_float",
    "p_float",
    "s_float24",
    "p_float24",
};
constexpr unsigned SYMBOL_TYPE_COUNT = sizeof SYMBOL_TYPE_NAMES / sizeof SYMBOL_TYPE_NAMES[0];
static_assert(SYMBOL_TYPE_COUNT == 184, "one name per .COD symbol type");

constexpr unsigned MAX_REMEMBERED_FILES = 512;

// A length-prefixed text of a field, as a terminated string.
template <size_t N> std::string field_text(const uint8_t (&field)[N]) {
    size_t length = std::min<size_t>(field[0], N - 1);
    std::string text(reinterpret_cast<const char*>(field + 1), length);
    return text.substr(0, text.find('\0'));
}

bool read_block(ByteReader& input, uint32_t block, uint8_t* out) {
    return input.read_at(uint64_t(block) * COD_BLOCK_SIZE, out, COD_BLOCK_SIZE);
}

// Block numbers are 16-bit, so a block's offset fits an unsigned int (messages 618
// and 619 print it with %X).
unsigned block_offset(uint32_t block) {
    return static_cast<unsigned>(block * COD_BLOCK_SIZE);
}

// Calls visit(block number, bytes) for each block of a table; a block that cannot be
// read gives the message with its file offset and ends the table.
template <typename Visit>
void for_each_table_block(Run& run, ByteReader& input, const CodTableSpan& span, unsigned failure,
                          Visit visit) {
    uint8_t block[COD_BLOCK_SIZE];
    for (uint32_t number = span.first; span.first != 0 && number <= span.last; ++number) {
        if (!read_block(input, number, block)) {
            message(run.messages, failure, block_offset(number));
            return;
        }
        visit(number, block);
    }
}

// Calls visit(record) for each record of type R that fills the block's slots.
template <class R, typename Visit> void for_each_slot(const uint8_t* block, Visit visit) {
    constexpr size_t size = record_size<R>();
    for (size_t at = 0; at + size <= COD_BLOCK_SIZE; at += size)
        visit(decode<R>(block + at, ByteOrder::little));
}

void print_short_symbol(const CodShortSymbol& entry) {
    printf("\t%-14.12s", field_text(entry.name).c_str());
    unsigned type = entry.type;
    int width;
    if (type >= 1 && type < SYMBOL_TYPE_COUNT) {
        printf(" (%s)", SYMBOL_TYPE_NAMES[type]);
        width = 20 - int(std::min<size_t>(strlen(SYMBOL_TYPE_NAMES[type]), 20));
    } else {
        printf(" (%2.2X)", type);
        width = 20 - 2;
    }
    printf("%*s", width, "");
    printf("%5.4X\n", unsigned(entry.value));
}

// An empty slot, or one whose name is empty, holds no symbol.
bool has_name(const CodShortSymbol& entry) {
    return entry.name[0] != 0 && entry.name[1] != 0;
}

void print_directory(const CodDirectory& d) {
    unsigned time = d.time;
    printf("Source:\t%s\n", field_text(d.source).c_str());
    printf("Date:\t%s\t", field_text(d.date).c_str());
    printf("Time:\t%2.2d:%2.2d\n", int(time / 100), int(time % 100));
    printf("Version:%s\t", field_text(d.version).c_str());
    printf("Compiler: %s\n", field_text(d.compiler).c_str());
    printf("Notice:\t%s\n", field_text(d.notice).c_str());
    printf("Symtab:\t%d/%d; Namtab: %d/%d; Lsttab: %d/%d\n", d.symbols.first, d.symbols.last,
           d.names.first, d.names.last, d.lines.first, d.lines.last);
    printf("Addr:\t%d, highaddr %X\n", int(d.address_size), unsigned(d.high_address));
    printf("Memmap:\t%d/%d; Locals: %d/%d; Lsymtab %d/%d; Messtab %d/%d\n", d.memory_map.first,
           d.memory_map.last, d.locals.first, d.locals.last, d.long_symbols.first,
           d.long_symbols.last, d.messages.first, d.messages.last);
    printf("Codtyp:\t%d; Processor %s\n", int(d.code_type), field_text(d.processor).c_str());
}

void print_code_pages(Run& run, ByteReader& input, const CodDirectory& directory) {
    uint8_t page[COD_BLOCK_SIZE];
    for (unsigned p = 0; p < CODE_INDEX_ENTRIES; ++p) {
        uint32_t block = directory.code_index[p];
        if (block == 0) continue;
        printf("Code: 0%Xh at block %d\n", unsigned(p * COD_BLOCK_SIZE), int(block));
        if (run.options.verbose_level < 1) continue;
        if (!read_block(input, block, page)) {
            message(run.messages, 618, block_offset(block));
            continue;
        }
        hex_dump(stdout, p * COD_BLOCK_SIZE, 16, page, COD_BLOCK_SIZE, "%4.4lX:", true);
    }
}

void print_symbols_and_locals(Run& run, ByteReader& input, const CodDirectory& directory) {
    printf("Symbols:\n");
    for_each_table_block(run, input, directory.symbols, 619, [](uint32_t, const uint8_t* block) {
        for_each_slot<CodShortSymbol>(block, [](const CodShortSymbol& entry) {
            if (has_name(entry)) print_short_symbol(entry);
        });
    });
    printf("Locals:\n");
    for_each_table_block(run, input, directory.locals, 619, [](uint32_t, const uint8_t* block) {
        for (size_t at = 0; at < COD_BLOCK_SIZE; at += SHORT_SYMBOL_SIZE) {
            CodLocalsHeader header = decode<CodLocalsHeader>(block + at, ByteOrder::little);
            if (field_text(header.name) == LOCAL_HEADER_TEXT) {
                printf("Block: 0x%lX-0x%lX\n", static_cast<unsigned long>(header.start),
                       static_cast<unsigned long>(header.end));
                continue;
            }
            CodShortSymbol entry = decode<CodShortSymbol>(block + at, ByteOrder::little);
            if (has_name(entry)) print_short_symbol(entry);
        }
    });
}

void print_files_and_lines(Run& run, ByteReader& input, const CodDirectory& directory) {
    std::vector<std::string> files;
    printf("Files:\n");
    for_each_table_block(run, input, directory.names, 619,
                         [&files](uint32_t, const uint8_t* block) {
                             for_each_slot<CodFileName>(block, [&files](const CodFileName& entry) {
                                 std::string name = field_text(entry.name);
                                 if (name.empty()) return;
                                 printf("\t%-63.64s\n", name.c_str());
                                 if (files.size() < MAX_REMEMBERED_FILES) files.push_back(name);
                             });
                         });
    printf("Line numbers:\n");
    for_each_table_block(
        run, input, directory.lines, 619, [&files, &run](uint32_t number, const uint8_t* block) {
            printf("Line number block %u\n", unsigned(number));
            bool reported = false;
            for (unsigned k = 0; k < LINE_ENTRIES_PER_BLOCK; ++k) {
                CodLineEntry entry =
                    decode<CodLineEntry>(block + k * LINE_ENTRY_SIZE, ByteOrder::little);
                const char* name = "??";
                if (entry.file < files.size()) {
                    name = files[entry.file].c_str();
                } else if (!reported) {
                    message(run.messages, 620, unsigned(number));
                    reported = true;
                }
                printf("\t%5d %2.2X %4.4X %.32s\n", int(entry.line), unsigned(entry.flags),
                       unsigned(entry.address), name);
            }
        });
}

// A .COD file's directory dates it with seven characters, two digits, three letters and
// two digits: the second must be a digit and the third and fourth letters.
bool cod_detect(Run&, FILE* in) {
    CodDirectory directory;
    if (!ByteReader(in).record_at(0, &directory)) return false;
    char date[16] = {};
    memcpy(date, directory.date + 1, std::min<size_t>(directory.date[0], 15));
    auto is = [&date](int k, int (*test)(int)) {
        return test(static_cast<unsigned char>(date[k])) != 0;
    };
    return date[7] == '\0' && is(1, isdigit) && is(2, isalpha) && is(3, isalpha);
}

bool cod_dump(Run& run, FILE* in) {
    ByteReader input(in, ByteOrder::little);
    CodDirectory directory;
    if (!input.record_at(0, &directory)) fatal_message(run.messages, 1037, "directory block");
    print_directory(directory);
    print_code_pages(run, input, directory);
    print_symbols_and_locals(run, input, directory);
    print_files_and_lines(run, input, directory);
    return true;
}

} // namespace

const FormatDescriptor cod_format = {
    cod_detect, read_placeholder, cod_write, cod_dump, ".COD", "cod", "cod", true,
};
