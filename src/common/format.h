// What the driver needs of a file format: detect, read, write and dump operations and
// the properties that name and open its files.
#pragma once

#include <cstdint>
#include <cstdio>

struct FormatDescriptor {
    bool (*detect)(FILE* in);                  // stream at its start: is it this format?
    int (*read)(FILE* in, const char* name);   // into the symbol store; result unused
    int (*write)(FILE* out, const char* name); // from the store; result unused
    bool (*dump)(FILE* in);                    // readable form on standard output
    void (*reset)();                           // forgets what it kept from earlier in the run
    const char* name;                          // long name
    const char* key;                           // key for -i and -o
    const char* extension;                     // default output extension, no "."
    bool binary;                               // "rb"/"wb" rather than "r"/"w"
};

// Operations for a direction a format does not support.
int read_placeholder(FILE* in, const char* name);   // adds nothing
int write_placeholder(FILE* out, const char* name); // leaves the output empty
bool dump_placeholder(FILE* in);                    // answers failure
void reset_nothing();                               // for a format that keeps nothing

// Raw bytes, bytes_per_line to a line: the address in address_format, " %02X" per
// byte, and with with_text the printable characters after the bytes.
void hex_dump(FILE* out, unsigned long address, unsigned bytes_per_line, const uint8_t* data,
              size_t count, const char* address_format, bool with_text);
