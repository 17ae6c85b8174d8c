// The Windows side of the operating-system services.
#include <io.h>
#include <windows.h>

#include "common/osdep.h"

const char PATH_SEPARATOR = '\\';
const char* const NULL_DEVICE = "NUL";
const char* const BUILD_NOTICE = "Windows build: the installation directory and the message "
                                 "language come from the registry when it holds them.";

std::unique_ptr<char[]> program_path() {
    // A path longer than the buffer comes back cut and is refused.
    char buffer[32768];
    DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer) return nullptr;
    buffer[length] = '\0';
    return copy_text(buffer);
}

int stricmp_portable(const char* a, const char* b) {
    return _stricmp(a, b);
}

bool stdin_is_terminal() {
    return _isatty(_fileno(stdin)) != 0;
}

namespace {

// The handle of the file open on stream, or INVALID_HANDLE_VALUE.
HANDLE stream_handle(FILE* stream) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

} // namespace

bool regular_file_size(FILE* stream, uint64_t* size) {
    HANDLE handle = stream_handle(stream);
    LARGE_INTEGER bytes;
    if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK ||
        !GetFileSizeEx(handle, &bytes) || bytes.QuadPart < 0)
        return false;
    *size = static_cast<uint64_t>(bytes.QuadPart);
    return true;
}

std::string file_identity(FILE* stream) {
    // The C runtime's file number of a file is always 0 here, so the identity comes from
    // the volume and the file index that the system keeps for each file.
    HANDLE handle = stream_handle(stream);
    BY_HANDLE_FILE_INFORMATION info;
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) return "";
    uint64_t index = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(index);
}

FILE* open_bytes_stream(const uint8_t* data, size_t size) {
    // A temporary file, deleted when it is closed ("D") and kept in memory while it can
    // be ("T"): the runtime has no stream over memory.
    char dir[MAX_PATH + 1], name[MAX_PATH + 1];
    DWORD length = GetTempPathA(sizeof dir, dir);
    if (length == 0 || length > sizeof dir || GetTempFileNameA(dir, "svt", 0, name) == 0)
        return nullptr;
    FILE* stream = fopen(name, "w+bTD");
    if (!stream) {
        DeleteFileA(name);
        return nullptr;
    }
    if ((size != 0 && fwrite(data, 1, size, stream) != size) || fseek(stream, 0, SEEK_SET) != 0) {
        fclose(stream);
        return nullptr;
    }
    return stream;
}

long process_id() {
    return static_cast<long>(GetCurrentProcessId());
}

bool process_running(long id) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
    if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
    bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

bool utc_calendar(time_t when, tm* out) {
    return gmtime_s(out, &when) == 0;
}

bool local_calendar(time_t when, tm* out) {
    return localtime_s(out, &when) == 0;
}
