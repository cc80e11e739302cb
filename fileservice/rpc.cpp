#include "fileservice/rpc.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/console.h"
#include "base/line.h"
#include "base/settings.h"
#include "fileservice/confine.h"
#include "fileservice/find.h"
#include "fileservice/handles.h"
#include "fileservice/names.h"
#include "fileservice/open_mode.h"
#include "fileservice/runtime_requests.h"
#include "link/link.h"

namespace tolvane {

char rpc_text[RPC_TEXT_SIZE];

namespace {

service_settings service;

constexpr int RESULT_ERROR = -1;  // EOF, or a failed remove/rename/seek/tell

// Second string field of a request: the mode of open, the new name of rename.
using ShortText = char[LINK_STRING_MAX + 1];

// Read and write data move between the stream and the line a block at a
// time; a 4096-byte request is one block, a 65536-byte one four.
constexpr size_t DATA_BLOCK_SIZE = 16384;
unsigned char data_block[DATA_BLOCK_SIZE];

// A text field into buffer, at most size - 1 bytes and a NUL, read to its
// ETX: false when it held more. No target sends that: it is noise (boot
// text that held an STX), read no further and shown as text.
bool get_text(char* buffer, size_t size) {
    unsigned char* kept = reinterpret_cast<unsigned char*>(buffer);
    bool ended = false;
    size_t count = 0;
    while (!ended && count < size - 1) count += line_get_data(kept + count, size - 1 - count, &ended);
    buffer[count] = '\0';
    unsigned char beyond;
    if (!ended && line_get_data(&beyond, 1, &ended) > 0) {
        line_request_noise();
        return false;
    }
    return true;
}

// A name, pattern or mode: a string field of at most LINK_STRING_MAX bytes.
bool get_name(char* buffer) { return get_text(buffer, LINK_STRING_MAX + 1); }

// Every field of the request is there: true when it may act. One cut off
// (Ctrl-Q, the time-out, a line lost) or gone silent does nothing.
bool whole() { return line_request_settle(); }

int32_t get_s32() { return static_cast<int32_t>(link_get_u32()); }
int16_t get_s16() { return static_cast<int16_t>(link_get_u16()); }
void put_s16(int value) { link_put_u16(static_cast<uint32_t>(value) & 0xFFFF); }
unsigned long trace_handle(uint32_t handle) { return handle; }

// With -p no stream takes output, whatever its mode.
FILE* output_stream(host_stream* stream) { return service.read_only ? nullptr : stream_for_output(stream); }

void serve_open() {
    ShortText mode;
    if (!get_name(rpc_text) || !get_name(mode) || !whole()) return;
    host_file_name(rpc_text);
    if (service.trace) console_print("fopen(%s,%s) = ", rpc_text, mode);
    const open_mode checked = open_mode_parse(mode);
    const bool allowed = checked.valid && !(service.read_only && checked.writes);
    FILE* stream = allowed ? confine_fopen(rpc_text, mode, checked) : nullptr;
    // Every append mode starts at the end, in both C libraries, as a target
    // that asks for its log's size expects; writes go there anyway.
    if (stream && checked.appends) std::fseek(stream, 0, SEEK_END);
    uint32_t handle = 0;
    if (stream) {
        handle = handle_add(stream, checked);
        if (handle == 0) std::fclose(stream);
    }
    link_put_u32(handle);
    if (service.trace) console_print("%lx\n", trace_handle(handle));
}

void serve_read() {
    const int32_t count = get_s32();
    const uint32_t handle = link_get_u32();
    if (!whole()) return;
    if (service.trace) console_print("fread(%lx,%ld) = ", trace_handle(handle), static_cast<long>(count));
    FILE* stream = count > 0 ? stream_for_input(handle_stream(handle)) : nullptr;
    int32_t sent = 0;
    while (stream && sent < count && !line_request_cut()) {
        const size_t want = std::min(static_cast<size_t>(count - sent), sizeof data_block);
        const size_t got = std::fread(data_block, 1, want, stream);
        sent += static_cast<int32_t>(line_put_data(data_block, got));
        if (got < want) break;
    }
    if (sent < count) link_put(SYM_ETX);
    if (service.trace) console_print("%ld\n", static_cast<long>(sent));
}

void serve_write() {
    const uint32_t handle = link_get_u32();
    host_stream* stream = handle_stream(handle);
    // No reply is owed for a write: data for a handle that names nothing
    // is no request, and shown as the text it likely is.
    if (stream == nullptr && !line_request_cut()) line_request_noise();
    if (stream == nullptr || !whole()) return;
    if (service.trace) console_print("fwrite(%lx)\n", trace_handle(handle));
    FILE* file = nullptr;
    bool first = true;
    // The data is always read to its ETX, so the stream stays in step. The
    // stream is made ready at the first byte: an empty write leaves it be.
    for (bool ended = false; !ended;) {
        const size_t got = line_get_data(data_block, sizeof data_block, &ended);
        if (got == 0) continue;
        if (first) file = output_stream(stream);
        first = false;
        if (file) std::fwrite(data_block, 1, got, file);
    }
}

void serve_close() {
    const uint32_t handle = link_get_u32();
    if (!whole()) return;
    if (service.trace) console_print("fclose(%lx) = ", trace_handle(handle));
    const host_stream* stream = handle_stream(handle);
    int result = RESULT_ERROR;
    if (stream) {
        FILE* file = stream->file;
        handle_remove(handle);
        result = std::fclose(file);
    }
    put_s16(result);
    if (service.trace) console_print("%d\n", result);
}

void serve_getc() {
    const uint32_t handle = link_get_u32();
    if (!whole()) return;
    FILE* stream = stream_for_input(handle_stream(handle));
    const int result = stream ? std::fgetc(stream) : RESULT_ERROR;
    put_s16(result);
    if (service.trace) console_print("fgetc(%lx) = %d\n", trace_handle(handle), result);
}

void serve_putc() {
    const uint32_t handle = link_get_u32();
    const int c = get_s16();
    if (!whole()) return;
    FILE* file = output_stream(handle_stream(handle));
    const int result = file ? std::fputc(c, file) : RESULT_ERROR;
    put_s16(result);
    if (service.trace) console_print("fputc(%d,%lx) = %d\n", c, trace_handle(handle), result);
}

void serve_gets() {
    const uint32_t handle = link_get_u32();
    const int size = get_s16();
    if (!whole()) return;
    // fgets with a size of 0 has nothing to give; above the buffer it must
    // not be called at all.
    FILE* file = size > 0 && size <= RPC_TEXT_SIZE ? stream_for_input(handle_stream(handle)) : nullptr;
    const bool got = file && std::fgets(rpc_text, size, file);
    if (service.trace)
        console_print("fgets(%d,%lx) = %ld\n", size, trace_handle(handle), got ? static_cast<long>(std::strlen(rpc_text)) : -1L);
    if (!got) {
        put_s16(0);
        return;
    }
    put_s16(1);
    line_put_data(reinterpret_cast<const unsigned char*>(rpc_text), std::strlen(rpc_text));
    link_put(SYM_ETX);
}

void serve_puts() {
    const uint32_t handle = link_get_u32();
    // A text may fill the whole buffer, not only a name's 79 bytes.
    if (!get_text(rpc_text, RPC_TEXT_SIZE) || !whole()) return;
    if (service.trace) console_print("fputs(%s)\n", rpc_text);
    FILE* file = output_stream(handle_stream(handle));
    put_s16(file ? std::fputs(rpc_text, file) : RESULT_ERROR);
}

void send_found(int result, const find_record& record) {
    put_s16(result);
    if (result == 0) find_record_send(record);
    // The record's fields as their values; a failed search names nothing.
    if (service.trace) {
        console_print("%d %s %x\n", result, result == 0 ? record.name : "",
                    result == 0 ? unsigned{record.attributes} : 0u);
    }
}

void serve_find_first() {
    if (!get_name(rpc_text)) return;
    const int attributes = get_s16();
    if (!whole()) return;
    host_file_name(rpc_text);
    find_record record{};
    const int result = find_first(rpc_text, &record);
    if (service.trace) console_print("findfirst(%s,%d) = ", rpc_text, attributes);
    send_found(result, record);
}

void serve_find_next() {
    if (!whole()) return;
    find_record record{};
    const int result = find_next(&record);
    if (service.trace) console_print("findnext() = ");
    send_found(result, record);
}

void serve_remove() {
    if (!get_name(rpc_text) || !whole()) return;
    host_file_name(rpc_text);
    if (service.trace) console_print("remove(%s)\n", rpc_text);
    put_s16(service.read_only ? RESULT_ERROR : confine_remove(rpc_text));
}

void serve_rename() {
    ShortText new_name;
    if (!get_name(rpc_text) || !get_name(new_name) || !whole()) return;
    host_file_name(rpc_text);
    host_file_name(new_name);
    if (service.trace) console_print("rename(%s,%s)\n", rpc_text, new_name);
    put_s16(service.read_only ? RESULT_ERROR : confine_rename(rpc_text, new_name));
}

void serve_tell() {
    const uint32_t handle = link_get_u32();
    if (!whole()) return;
    const host_stream* stream = handle_stream(handle);
    const long position = stream ? std::ftell(stream->file) : RESULT_ERROR;
    link_put_u32(static_cast<uint32_t>(position));
    if (service.trace) console_print("ftell(%lx) = %ld\n", trace_handle(handle), position);
}

void serve_seek() {
    const uint32_t handle = link_get_u32();
    const long offset = get_s32();
    const int origin = get_s16();
    if (!whole()) return;
    host_stream* stream = handle_stream(handle);
    const int result = stream ? std::fseek(stream->file, offset, origin) : RESULT_ERROR;
    if (result == 0) stream_positioned(stream);
    put_s16(result);
    if (service.trace) console_print("fseek(%lx,%ld,%d) = %d\n", trace_handle(handle), offset, origin, result);
}

void serve_ungetc() {
    const int c = get_s16();
    const uint32_t handle = link_get_u32();
    if (!whole()) return;
    FILE* stream = stream_for_push_back(handle_stream(handle));
    const int result = stream ? std::ungetc(c, stream) : RESULT_ERROR;
    put_s16(result);
    if (service.trace) console_print("ungetc(%d,%lx) = %d\n", c, trace_handle(handle), result);
}

}  // namespace

bool rpc_start(const service_settings& settings) {
    service = settings;
    return confine_open_root(settings.root ? settings.root->c_str() : nullptr);
}

std::string rpc_serve() {
    line_request_begin();
    link_put(SYM_ETX);
    const int code = link_get();
    switch (code) {
    case RPC_OPEN: serve_open(); break;
    case RPC_READ: serve_read(); break;
    case RPC_WRITE: serve_write(); break;
    case RPC_CLOSE: serve_close(); break;
    case RPC_GETC: serve_getc(); break;
    case RPC_PUTC: serve_putc(); break;
    case RPC_GETS: serve_gets(); break;
    case RPC_PUTS: serve_puts(); break;
    case RPC_FIND_FIRST: serve_find_first(); break;
    case RPC_FIND_NEXT: serve_find_next(); break;
    case RPC_REMOVE: serve_remove(); break;
    case RPC_RENAME: serve_rename(); break;
    case RPC_TELL: serve_tell(); break;
    case RPC_SEEK: serve_seek(); break;
    case RPC_UNGETC: serve_ungetc(); break;
    default:
        if (runtime_request_serve(code)) break;
        if (whole()) console_print("%s", rpc_unknown_message);
        break;
    }
    return line_request_end();
}

bool rpc_get_name(char* buffer) { return get_name(buffer); }
bool rpc_whole() { return whole(); }
int32_t rpc_get_s32() { return get_s32(); }
void rpc_put_s16(int value) { put_s16(value); }
const service_settings& rpc_service() { return service; }

}  // namespace tolvane
