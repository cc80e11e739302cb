#include "fileservice/rpc.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/block_codec.h"
#include "base/console.h"
#include "base/line.h"
#include "base/settings.h"
#include "fileservice/confine.h"
#include "fileservice/find.h"
#include "fileservice/handles.h"
#include "fileservice/names.h"
#include "fileservice/open_mode.h"
#include "link/link.h"

namespace tolvane {

char rpc_text[RPC_TEXT_SIZE];

namespace {

constexpr int RESULT_ERROR = -1;  // EOF, or a failed remove/rename/seek/tell

// What a request's fields are, in the order they travel. Numbers are
// big-endian; an ETX that cuts one short leaves its missing bytes zero. A
// name is a string field of at most LINK_STRING_MAX bytes, a text one that
// fills rpc_text; data runs to its ETX and goes straight to the stream.
enum class field : unsigned char { none, u16, u32, name, text, data };
constexpr size_t FIELDS_MAX = 3;
using request_shape = std::array<field, FIELDS_MAX>;
constexpr field N = field::none, U16 = field::u16, U32 = field::u32, NAME = field::name, TEXT = field::text,
                DATA = field::data;
constexpr std::array<request_shape, 15> SHAPES = {{
    {NAME, NAME, N},   // 0 open: name, mode
    {U32, U32, N},     // 1 read: count, handle
    {U32, DATA, N},    // 2 write: handle, data
    {U32, N, N},       // 3 close: handle
    {U32, N, N},       // 4 get character: handle
    {U32, U16, N},     // 5 put character: handle, character
    {U32, U16, N},     // 6 get line: handle, size
    {U32, TEXT, N},    // 7 put text: handle, text
    {NAME, U16, N},    // 8 find first: pattern, attributes
    {N, N, N},         // 9 find next
    {NAME, N, N},      // 10 remove: name
    {NAME, NAME, N},   // 11 rename: old, new
    {U32, N, N},       // 12 tell: handle
    {U32, U32, U16},   // 13 seek: handle, offset, origin
    {U16, U32, N},     // 14 push back: character, handle
}};

// Read and write data move between the stream and the line a block at a
// time; a 4096-byte request is one block, a 65536-byte one four.
constexpr size_t DATA_BLOCK_SIZE = 16384;
// A read's data is queued while the line's queue holds less than this.
constexpr size_t REPLY_QUEUE_MAX = 2 * DATA_BLOCK_SIZE;

enum class phase { idle, code, fields, data };

// The request being parsed. Its raw bytes are kept until it is whole, so
// that one that turns out to be noise (boot text at the wrong speed, say)
// is shown as text instead of swallowed.
struct request {
    phase at = phase::idle;
    bool code_after_dle = false;
    int code = 0;
    size_t field_index = 0;
    block_decoder decoder;
    size_t stored = 0;  // bytes of the current field so far
    std::array<unsigned char, 4> number_bytes{};
    std::array<uint32_t, FIELDS_MAX> numbers{};
    size_t texts = 0;  // string fields done: the first in rpc_text, the second in short_text
    char short_text[LINK_STRING_MAX + 1] = {};
    std::string recorded;
    deadline patience = deadline::never();
    // The write's stream, and whether it was made ready by a first byte.
    host_stream* write_stream = nullptr;
    FILE* write_file = nullptr;
    bool wrote = false;
};

// A read whose data is still going out.
struct read_reply {
    bool active = false;
    FILE* stream = nullptr;
    int32_t count = 0;
    int32_t sent = 0;
};

service_settings service;
request req;
read_reply reply;
std::string noise_bytes;
unsigned char data_block[DATA_BLOCK_SIZE];

void put_s16(int value) { link_put_u16(static_cast<uint32_t>(value) & 0xFFFF); }
unsigned long trace_handle(uint32_t handle) { return handle; }
int32_t s32(uint32_t value) { return static_cast<int32_t>(value); }
int16_t s16(uint32_t value) { return static_cast<int16_t>(value); }

// With -p no stream takes output, whatever its mode.
FILE* output_stream(host_stream* stream) { return service.read_only ? nullptr : stream_for_output(stream); }

// The request's string fields, in order: the first in rpc_text, the second
// in a buffer of its own.
char* text_field(size_t n) { return n == 0 ? rpc_text : req.short_text; }

void serve_open() {
    const char* mode = text_field(1);
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

// The end of a read's reply: an ETX when fewer bytes than asked came.
void finish_read() {
    if (reply.sent < reply.count) link_put(SYM_ETX);
    if (service.trace) console_print("%ld\n", static_cast<long>(reply.sent));
    reply = read_reply{};
}

void serve_read() {
    const int32_t count = s32(req.numbers[0]);
    const uint32_t handle = req.numbers[1];
    if (service.trace) console_print("fread(%lx,%ld) = ", trace_handle(handle), static_cast<long>(count));
    reply.active = true;
    reply.count = count;
    reply.sent = 0;
    reply.stream = count > 0 ? stream_for_input(handle_stream(handle)) : nullptr;
    rpc_reply_more();
}

// No reply is owed for a write: data for a handle that names nothing is no
// request, and shown as the text it likely is. False then.
bool begin_write() {
    const uint32_t handle = req.numbers[0];
    req.write_stream = handle_stream(handle);
    if (req.write_stream == nullptr) return false;
    if (service.trace) console_print("fwrite(%lx)\n", trace_handle(handle));
    req.write_file = nullptr;
    req.wrote = false;
    return true;
}

// The data is always read to its ETX, so the stream stays in step. The
// stream is made ready at the first byte: an empty write leaves it be.
void write_data(const unsigned char* bytes, size_t count) {
    if (count == 0) return;
    if (!req.wrote) req.write_file = output_stream(req.write_stream);
    req.wrote = true;
    if (req.write_file) std::fwrite(bytes, 1, count, req.write_file);
}

void serve_close() {
    const uint32_t handle = req.numbers[0];
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
    const uint32_t handle = req.numbers[0];
    FILE* stream = stream_for_input(handle_stream(handle));
    const int result = stream ? std::fgetc(stream) : RESULT_ERROR;
    put_s16(result);
    if (service.trace) console_print("fgetc(%lx) = %d\n", trace_handle(handle), result);
}

void serve_putc() {
    const uint32_t handle = req.numbers[0];
    const int c = s16(req.numbers[1]);
    FILE* file = output_stream(handle_stream(handle));
    const int result = file ? std::fputc(c, file) : RESULT_ERROR;
    put_s16(result);
    if (service.trace) console_print("fputc(%d,%lx) = %d\n", c, trace_handle(handle), result);
}

void serve_gets() {
    const uint32_t handle = req.numbers[0];
    const int size = s16(req.numbers[1]);
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
    const uint32_t handle = req.numbers[0];
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
    const int attributes = s16(req.numbers[1]);
    host_file_name(rpc_text);
    find_record record{};
    const int result = find_first(rpc_text, &record);
    if (service.trace) console_print("findfirst(%s,%d) = ", rpc_text, attributes);
    send_found(result, record);
}

void serve_find_next() {
    find_record record{};
    const int result = find_next(&record);
    if (service.trace) console_print("findnext() = ");
    send_found(result, record);
}

void serve_remove() {
    host_file_name(rpc_text);
    if (service.trace) console_print("remove(%s)\n", rpc_text);
    put_s16(service.read_only ? RESULT_ERROR : confine_remove(rpc_text));
}

void serve_rename() {
    char* new_name = text_field(1);
    host_file_name(rpc_text);
    host_file_name(new_name);
    if (service.trace) console_print("rename(%s,%s)\n", rpc_text, new_name);
    put_s16(service.read_only ? RESULT_ERROR : confine_rename(rpc_text, new_name));
}

void serve_tell() {
    const uint32_t handle = req.numbers[0];
    const host_stream* stream = handle_stream(handle);
    const long position = stream ? std::ftell(stream->file) : RESULT_ERROR;
    link_put_u32(static_cast<uint32_t>(position));
    if (service.trace) console_print("ftell(%lx) = %ld\n", trace_handle(handle), position);
}

void serve_seek() {
    const uint32_t handle = req.numbers[0];
    const long offset = s32(req.numbers[1]);
    const int origin = s16(req.numbers[2]);
    host_stream* stream = handle_stream(handle);
    const int result = stream ? std::fseek(stream->file, offset, origin) : RESULT_ERROR;
    if (result == 0) stream_positioned(stream);
    put_s16(result);
    if (service.trace) console_print("fseek(%lx,%ld,%d) = %d\n", trace_handle(handle), offset, origin, result);
}

void serve_ungetc() {
    const int c = s16(req.numbers[0]);
    const uint32_t handle = req.numbers[1];
    FILE* stream = stream_for_push_back(handle_stream(handle));
    const int result = stream ? std::ungetc(c, stream) : RESULT_ERROR;
    put_s16(result);
    if (service.trace) console_print("ungetc(%d,%lx) = %d\n", c, trace_handle(handle), result);
}

// Each code's work once its fields are in; a write's is its data.
using handler = void (*)();
constexpr std::array<handler, 15> HANDLERS = {
    serve_open, serve_read,   nullptr, serve_close, serve_getc,
    serve_putc, serve_gets,   serve_puts,              serve_find_first, serve_find_next,
    serve_remove, serve_rename, serve_tell,            serve_seek,  serve_ungetc,
};

bool known(int code) { return code >= 0 && code < static_cast<int>(SHAPES.size()); }

field current_field() { return req.field_index < FIELDS_MAX ? SHAPES[req.code][req.field_index] : field::none; }

void end_request() {
    req.at = phase::idle;
    req.patience = deadline::never();
}

// Every field is in: the request acts. A write goes on with its data, or
// is noise when its handle names nothing.
rpc_status whole() {
    req.patience = deadline::never();
    if (!known(req.code)) {
        console_print("%s", rpc_unknown_message);
        end_request();
        return rpc_status::done;
    }
    if (req.code == RPC_WRITE) {
        if (!begin_write()) return rpc_status::noise;
        req.at = phase::data;
        req.decoder = block_decoder{};
        return rpc_status::more;
    }
    HANDLERS[req.code]();
    end_request();
    return rpc_status::done;
}

// The next field begins; a request with no more is whole.
rpc_status next_field() {
    req.decoder = block_decoder{};
    req.stored = 0;
    req.number_bytes = {};
    const field next = current_field();
    if (next == field::none || next == field::data) return whole();
    return rpc_status::more;
}

rpc_status field_done() {
    const field done = current_field();
    if (done == field::u16 || done == field::u32) {
        uint32_t value = 0;
        const size_t size = done == field::u16 ? 2 : 4;
        for (size_t i = 0; i < size; ++i) value = value << 8 | req.number_bytes[i];
        req.numbers[req.field_index] = value;
    } else {
        char* text = text_field(req.texts++);
        text[req.stored] = '\0';
    }
    ++req.field_index;
    return next_field();
}

// The code: one symbol, a DLE pair for a code that is a mark. A bare STX
// or ETX there is no code of the table.
size_t take_code(const unsigned char* bytes, size_t count, rpc_status* status) {
    size_t used = 0;
    while (used < count && req.at == phase::code) {
        const unsigned char byte = bytes[used++];
        if (!req.code_after_dle && byte == BYTE_DLE) {
            req.code_after_dle = true;
            continue;
        }
        const bool mark = !req.code_after_dle && (byte == BYTE_STX || byte == BYTE_ETX);
        req.code = mark ? byte | 0x100 : byte;
        req.at = phase::fields;
        req.field_index = 0;
        req.texts = 0;
        *status = known(req.code) ? next_field() : whole();
    }
    return used;
}

// Part of a field: a number's bytes up to its size or an ETX; a string's
// to its ETX. A string longer than its buffer makes the request noise
// once one byte more than fits has come.
size_t take_field(const unsigned char* bytes, size_t count, rpc_status* status) {
    const field now = current_field();
    const bool number = now == field::u16 || now == field::u32;
    const size_t limit = now == field::u16 ? 2 : now == field::u32 ? 4 : now == field::name ? LINK_STRING_MAX : RPC_TEXT_SIZE - 1;
    unsigned char* buffer = number ? req.number_bytes.data() : reinterpret_cast<unsigned char*>(text_field(req.texts));
    size_t used = 0;
    if (req.stored < limit) {
        size_t got = 0;
        used = block_decode(&req.decoder, bytes, count, buffer + req.stored, limit - req.stored, &got);
        req.stored += got;
    }
    if (req.decoder.ended || (number && req.stored == limit)) {
        *status = field_done();
        return used;
    }
    if (req.stored < limit || used == count) return used;
    unsigned char beyond;
    size_t got = 0;
    used += block_decode(&req.decoder, bytes + used, count - used, &beyond, 1, &got);
    if (got > 0) *status = rpc_status::noise;
    if (req.decoder.ended) *status = field_done();
    return used;
}

size_t take_data(const unsigned char* bytes, size_t count, rpc_status* status) {
    size_t used = 0;
    while (used < count && !req.decoder.ended) {
        size_t got = 0;
        used += block_decode(&req.decoder, bytes + used, count - used, data_block, sizeof data_block, &got);
        write_data(data_block, got);
    }
    if (req.decoder.ended) {
        end_request();
        *status = rpc_status::done;
    }
    return used;
}

}  // namespace

bool rpc_start(const service_settings& settings) {
    service = settings;
    return confine_open_root(settings.root ? settings.root->c_str() : nullptr);
}

void rpc_begin() {
    req = request{};
    req.at = phase::code;
    req.recorded.assign(1, static_cast<char>(BYTE_STX));
    req.patience = deadline::in(REQUEST_PATIENCE_MS);
    link_put(SYM_ETX);
}

rpc_step rpc_feed(const unsigned char* bytes, size_t count) {
    size_t used = 0;
    rpc_status status = rpc_status::more;
    while (used < count && status == rpc_status::more && req.at != phase::idle) {
        const bool recording = req.at != phase::data;
        size_t n = 0;
        switch (req.at) {
        case phase::code: n = take_code(bytes + used, count - used, &status); break;
        case phase::fields: n = take_field(bytes + used, count - used, &status); break;
        case phase::data: n = take_data(bytes + used, count - used, &status); break;
        case phase::idle: break;
        }
        if (recording) req.recorded.append(reinterpret_cast<const char*>(bytes + used), n);
        used += n;
    }
    if (status == rpc_status::noise) {
        noise_bytes.swap(req.recorded);
        end_request();
    }
    if (status != rpc_status::more || req.at == phase::data) req.recorded.clear();
    if (status == rpc_status::more && req.at != phase::data) req.patience = deadline::in(REQUEST_PATIENCE_MS);
    return {used, status};
}

const std::string& rpc_noise() { return noise_bytes; }

deadline rpc_patience() { return req.patience; }

void rpc_silence() {
    noise_bytes.swap(req.recorded);
    req.recorded.clear();
    end_request();
}

void rpc_abandon() {
    req.recorded.clear();
    end_request();
    reply = read_reply{};
}

bool rpc_replying() { return reply.active; }

void rpc_reply_more() {
    while (reply.active && reply.stream && reply.sent < reply.count && line_pending() < REPLY_QUEUE_MAX) {
        const size_t want = std::min(static_cast<size_t>(reply.count - reply.sent), sizeof data_block);
        const size_t got = std::fread(data_block, 1, want, reply.stream);
        line_put_data(data_block, got);
        reply.sent += static_cast<int32_t>(got);
        if (got < want) break;
    }
    if (!reply.active) return;
    if (reply.stream == nullptr || reply.sent >= reply.count || std::feof(reply.stream) || std::ferror(reply.stream))
        finish_read();
}

}  // namespace tolvane
