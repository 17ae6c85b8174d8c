// What the driver needs of a file format: detect, read, write and dump operations and
// the properties that name and open its files.
#pragma once

#include <cstdint>
#include <cstdio>

struct Run;

struct FormatDescriptor {
    bool (*detect)(Run& run, FILE* in);                  // stream at its start: is it this format?
    int (*read)(Run& run, FILE* in, const char* name);   // into the run's store; result unused
    int (*write)(Run& run, FILE* out, const char* name); // from the run's store; result unused
    bool (*dump)(Run& run, FILE* in);                    // readable form on standard output
    const char* name;                                    // long name
    const char* key;                                     // key for -i and -o
    const char* extension;                               // default output extension, no "."
    bool binary;                                         // "rb"/"wb" rather than "r"/"w"
};

// Operations for a direction a format does not support.
int read_placeholder(Run& run, FILE* in, const char* name);   // adds nothing
int write_placeholder(Run& run, FILE* out, const char* name); // leaves the output empty
bool dump_placeholder(Run& run, FILE* in);                    // answers failure

// Raw bytes, bytes_per_line to a line: the address in address_format, " %02X" per
// byte, and with with_text the printable characters after the bytes.
void hex_dump(FILE* out, unsigned long address, unsigned bytes_per_line, const uint8_t* data,
              size_t count, const char* address_format, bool with_text);
