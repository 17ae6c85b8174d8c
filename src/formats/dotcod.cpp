// .COD files: detection and the dump. The file is a run of 512-byte blocks: a
// directory, code pages and the symbol, locals, file-name and line tables that the
// directory points at. The reader does not exist (a .COD file is only dumped) and the
// writer is not built yet.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <sys/types.h>
#include <vector>

#include "common/alert.h"
#include "common/options.h"
#include "formats/descriptors.h"
#include "model/encdec.h"

namespace {

constexpr size_t COD_BLOCK_SIZE = 512;

// Directory block fields (offsets); 16-bit numbers are little-endian, texts are
// length-prefixed and zero-padded to their field's width.
enum : size_t {
    DIR_CODE_INDEX = 0, // 128 entries of 2 bytes
    DIR_SOURCE = 256,   // 64
    DIR_DATE = 320,     // 8
    DIR_TIME = 328,     // 2: hours x 100 + minutes
    DIR_VERSION = 330,  // 20
    DIR_COMPILER = 350, // 12
    DIR_NOTICE = 362,   // 64
    DIR_SYMBOLS = 426,  // first and last block of each table, 2 + 2
    DIR_NAMES = 430,
    DIR_LINES = 434,
    DIR_ADDRESS_SIZE = 438, // 1
    DIR_HIGH_ADDRESS = 439, // 2
    DIR_NEXT_DIRECTORY = 441,
    DIR_MEMORY_MAP = 443,
    DIR_LOCALS = 447,
    DIR_CODE_TYPE = 451, // 2
    DIR_PROCESSOR = 453, // 9
    DIR_LONG_SYMBOLS = 462,
    DIR_MESSAGES = 466,
};

constexpr unsigned CODE_INDEX_ENTRIES = 128;
constexpr size_t SHORT_SYMBOL_SIZE = 16; // name 13, type 1, value 2
constexpr size_t SHORT_SYMBOL_NAME = 13;
constexpr size_t FILE_NAME_SIZE = 64;
constexpr size_t LINE_ENTRY_SIZE = 6; // file 1, flags 1, line 2, address 2
constexpr unsigned LINE_ENTRIES_PER_BLOCK = 85;
constexpr unsigned MAX_REMEMBERED_FILES = 512;

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

// A length-prefixed text of a field of the given width, as a terminated string.
std::string field_text(const uint8_t* field, size_t width) {
    size_t length = std::min<size_t>(field[0], width - 1);
    std::string text(reinterpret_cast<const char*>(field + 1), length);
    return text.substr(0, text.find('\0'));
}

bool read_block(FILE* in, uint32_t block, uint8_t* out) {
    return fseeko(in, static_cast<off_t>(block) * COD_BLOCK_SIZE, SEEK_SET) == 0 &&
           fread(out, 1, COD_BLOCK_SIZE, in) == COD_BLOCK_SIZE;
}

// Block numbers are 16-bit, so a block's offset fits an unsigned int (messages 618
// and 619 print it with %X).
unsigned block_offset(uint32_t block) {
    return static_cast<unsigned>(block * COD_BLOCK_SIZE);
}

// Calls visit(block number, bytes) for each block of the table whose first and last
// block numbers are at field; a block that cannot be read gives the message with its
// file offset and ends the table.
template <typename Visit>
void for_each_table_block(FILE* in, const uint8_t* directory, size_t field, unsigned failure,
                          Visit visit) {
    uint32_t first = get16_le(directory + field);
    uint32_t last = get16_le(directory + field + 2);
    uint8_t block[COD_BLOCK_SIZE];
    for (uint32_t number = first; first != 0 && number <= last; ++number) {
        if (!read_block(in, number, block)) {
            message(failure, block_offset(number));
            return;
        }
        visit(number, block);
    }
}

void print_short_symbol(const uint8_t* entry) {
    std::string name = field_text(entry, SHORT_SYMBOL_NAME);
    printf("\t%-14.12s", name.c_str());
    unsigned type = entry[13];
    int width;
    if (type >= 1 && type < SYMBOL_TYPE_COUNT) {
        printf(" (%s)", SYMBOL_TYPE_NAMES[type]);
        width = 20 - int(std::min<size_t>(strlen(SYMBOL_TYPE_NAMES[type]), 20));
    } else {
        printf(" (%2.2X)", type);
        width = 20 - 2;
    }
    printf("%*s", width, "");
    printf("%5.4X\n", unsigned(get16_le(entry + 14)));
}

bool has_name(const uint8_t* entry) {
    return entry[0] != 0 && entry[1] != 0;
}

void print_directory(const uint8_t* d) {
    unsigned time = get16_le(d + DIR_TIME);
    printf("Source:\t%s\n", field_text(d + DIR_SOURCE, 64).c_str());
    printf("Date:\t%s\t", field_text(d + DIR_DATE, 8).c_str());
    printf("Time:\t%2.2d:%2.2d\n", int(time / 100), int(time % 100));
    printf("Version:%s\t", field_text(d + DIR_VERSION, 20).c_str());
    printf("Compiler: %s\n", field_text(d + DIR_COMPILER, 12).c_str());
    printf("Notice:\t%s\n", field_text(d + DIR_NOTICE, 64).c_str());
    auto n = [d](size_t at) { return int(get16_le(d + at)); };
    printf("Symtab:\t%d/%d; Namtab: %d/%d; Lsttab: %d/%d\n", n(DIR_SYMBOLS), n(DIR_SYMBOLS + 2),
           n(DIR_NAMES), n(DIR_NAMES + 2), n(DIR_LINES), n(DIR_LINES + 2));
    printf("Addr:\t%d, highaddr %X\n", int(d[DIR_ADDRESS_SIZE]), unsigned(n(DIR_HIGH_ADDRESS)));
    printf("Memmap:\t%d/%d; Locals: %d/%d; Lsymtab %d/%d; Messtab %d/%d\n", n(DIR_MEMORY_MAP),
           n(DIR_MEMORY_MAP + 2), n(DIR_LOCALS), n(DIR_LOCALS + 2), n(DIR_LONG_SYMBOLS),
           n(DIR_LONG_SYMBOLS + 2), n(DIR_MESSAGES), n(DIR_MESSAGES + 2));
    printf("Codtyp:\t%d; Processor %s\n", n(DIR_CODE_TYPE),
           field_text(d + DIR_PROCESSOR, 9).c_str());
}

void print_code_pages(FILE* in, const uint8_t* directory) {
    uint8_t page[COD_BLOCK_SIZE];
    for (unsigned p = 0; p < CODE_INDEX_ENTRIES; ++p) {
        uint32_t block = get16_le(directory + DIR_CODE_INDEX + 2 * p);
        if (block == 0) continue;
        printf("Code: 0%Xh at block %d\n", unsigned(p * COD_BLOCK_SIZE), int(block));
        if (options.verbose_level < 1) continue;
        if (!read_block(in, block, page)) {
            message(618, block_offset(block));
            continue;
        }
        hex_dump(stdout, p * COD_BLOCK_SIZE, 16, page, COD_BLOCK_SIZE, "%4.4lX:", true);
    }
}

void print_symbols_and_locals(FILE* in, const uint8_t* directory) {
    printf("Symbols:\n");
    for_each_table_block(in, directory, DIR_SYMBOLS, 619, [](uint32_t, const uint8_t* block) {
        for (size_t at = 0; at < COD_BLOCK_SIZE; at += SHORT_SYMBOL_SIZE)
            if (has_name(block + at)) print_short_symbol(block + at);
    });
    printf("Locals:\n");
    for_each_table_block(in, directory, DIR_LOCALS, 619, [](uint32_t, const uint8_t* block) {
        for (size_t at = 0; at < COD_BLOCK_SIZE; at += SHORT_SYMBOL_SIZE) {
            const uint8_t* record = block + at;
            if (record[0] == 7 && memcmp(record + 1, "__LOCAL", 7) == 0)
                printf("Block: 0x%lX-0x%lX\n", static_cast<unsigned long>(get16_le(record + 8)),
                       static_cast<unsigned long>(get16_le(record + 12)));
            else if (has_name(record))
                print_short_symbol(record);
        }
    });
}

void print_files_and_lines(FILE* in, const uint8_t* directory) {
    std::vector<std::string> files;
    printf("Files:\n");
    for_each_table_block(in, directory, DIR_NAMES, 619, [&files](uint32_t, const uint8_t* block) {
        for (size_t at = 0; at < COD_BLOCK_SIZE; at += FILE_NAME_SIZE) {
            std::string name = field_text(block + at, FILE_NAME_SIZE);
            if (name.empty()) continue;
            printf("\t%-63.64s\n", name.c_str());
            if (files.size() < MAX_REMEMBERED_FILES) files.push_back(name);
        }
    });
    printf("Line numbers:\n");
    for_each_table_block(in, directory, DIR_LINES, 619,
                         [&files](uint32_t number, const uint8_t* block) {
                             printf("Line number block %u\n", unsigned(number));
                             bool reported = false;
                             for (unsigned k = 0; k < LINE_ENTRIES_PER_BLOCK; ++k) {
                                 const uint8_t* entry = block + k * LINE_ENTRY_SIZE;
                                 const char* name = "??";
                                 if (entry[0] < files.size()) {
                                     name = files[entry[0]].c_str();
                                 } else if (!reported) {
                                     message(620, unsigned(number));
                                     reported = true;
                                 }
                                 printf("\t%5d %2.2X %4.4X %.32s\n", int(get16_le(entry + 2)),
                                        unsigned(entry[1]), unsigned(get16_le(entry + 4)), name);
                             }
                         });
}

// A .COD file's directory dates it with seven characters, two digits, three letters and
// two digits: the second must be a digit and the third and fourth letters.
bool cod_detect(FILE* in) {
    uint8_t directory[COD_BLOCK_SIZE];
    if (fread(directory, 1, sizeof directory, in) != sizeof directory) return false;
    char date[16] = {};
    memcpy(date, directory + DIR_DATE + 1, std::min<size_t>(directory[DIR_DATE], 15));
    auto is = [&date](int k, int (*test)(int)) {
        return test(static_cast<unsigned char>(date[k])) != 0;
    };
    return date[7] == '\0' && is(1, isdigit) && is(2, isalpha) && is(3, isalpha);
}

bool cod_dump(FILE* in) {
    uint8_t directory[COD_BLOCK_SIZE];
    if (!read_block(in, 0, directory)) fatal_message(1037, "directory block");
    print_directory(directory);
    print_code_pages(in, directory);
    print_symbols_and_locals(in, directory);
    print_files_and_lines(in, directory);
    return true;
}

} // namespace

const FormatDescriptor cod_format = {
    cod_detect, read_placeholder, write_placeholder, cod_dump, ".COD", "cod", "cod", true,
};
