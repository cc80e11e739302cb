#include "fileservice/rpc.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/block_codec.h"
#include "base/console.h"
#include "base/line.h"
#include "base/settings.h"
#include "base/text_format.h"
#include "fileservice/confine.h"
#include "fileservice/find.h"
#include "fileservice/handles.h"
#include "fileservice/names.h"
#include "fileservice/open_mode.h"
#include "fileservice/reply.h"
#include "fileservice/runtime_requests.h"
#include "link/link.h"

namespace tolvane {

namespace {

constexpr int RESULT_ERROR = -1;  // EOF, or a failed remove/rename/seek/tell

// What a request's fields are, in the order they travel. Numbers are
// big-endian; an ETX that cuts one short leaves its missing bytes zero. A
// name is a string field of at most LINK_STRING_MAX bytes, a text one that
// fills fs.text; data runs to its ETX and goes straight to the stream.
enum class field : unsigned char { none, u16, u32, name, text, data };
using request_shape = std::array<field, RPC_FIELDS_MAX>;
constexpr field N = field::none, U16 = field::u16, U32 = field::u32, NAME = field::name, TEXT = field::text,
                DATA = field::data;
constexpr std::array<request_shape, RPC_CODES> SHAPES = {{
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
    {N, N, N},         // 15 version
    {NAME, N, N},      // 16 stat: name
    {U32, N, N},       // 17 stat of a stream: handle
    {NAME, N, N},      // 18 make directory: name
    {NAME, N, N},      // 19 remove directory: name
    {N, N, N},         // 20 time
    {U32, N, N},       // 21 exit: status
}};

// A read's data is queued while the line's queue holds less than this.
constexpr size_t REPLY_QUEUE_MAX = 2 * RPC_DATA_BLOCK_SIZE;
using phase = file_service::phase;

unsigned long trace_handle(uint32_t handle) { return handle; }
int32_t s32(uint32_t value) { return static_cast<int32_t>(value); }
int16_t s16(uint32_t value) { return static_cast<int16_t>(value); }

// With -p no stream takes output, whatever its mode.
FILE* output_stream(file_service& fs, host_stream* stream) { return fs.settings.read_only ? nullptr : stream_for_output(stream); }

// The request's string fields, in order: the first in fs.text, the second
// in a buffer of its own.
char* text_field(file_service& fs, size_t n) { return n == 0 ? fs.text : fs.req.short_text; }

void serve_open(file_service& fs) {
    const char* mode = text_field(fs, 1);
    host_file_name(fs.text);
    if (rpc_tracing(fs)) rpc_trace(fs, "fopen(%s,%s) = ", text_escaped(fs.text).c_str(), text_escaped(mode).c_str());
    const open_mode checked = open_mode_parse(mode);
    const bool allowed = checked.valid && !(fs.settings.read_only && checked.writes);
    FILE* stream = allowed ? confine_fopen(fs.text, mode, checked) : nullptr;
    // Every append mode starts at the end, in both C libraries, as a target
    // that asks for its log's size expects; writes go there anyway.
    if (stream && checked.appends) std::fseek(stream, 0, SEEK_END);
    uint32_t handle = 0;
    if (stream) {
        handle = handle_add(fs.handles, stream, checked);
        if (handle == 0) std::fclose(stream);
    }
    reply_u32(*fs.line, handle);
    if (rpc_tracing(fs)) rpc_trace(fs, "%lx\n", trace_handle(handle));
}

// The end of a read's reply: an ETX when fewer bytes than asked came.
void finish_read(file_service& fs) {
    if (fs.reply.sent < fs.reply.count) reply_end(*fs.line);
    if (rpc_tracing(fs)) rpc_trace(fs, "%ld\n", static_cast<long>(fs.reply.sent));
    fs.reply = file_service::read_reply{};
}

void serve_read(file_service& fs) {
    const int32_t count = s32(fs.req.numbers[0]);
    const uint32_t handle = fs.req.numbers[1];
    if (rpc_tracing(fs)) rpc_trace(fs, "fread(%lx,%ld) = ", trace_handle(handle), static_cast<long>(count));
    fs.reply.active = true;
    fs.reply.count = count;
    fs.reply.sent = 0;
    fs.reply.stream = count > 0 ? stream_for_input(handle_stream(fs.handles, handle)) : nullptr;
    rpc_reply_more(fs);
}

// No reply is owed for a write: data for a handle that names nothing is no
// request, and shown as the text it likely is. False then.
bool begin_write(file_service& fs) {
    const uint32_t handle = fs.req.numbers[0];
    fs.req.write_stream = handle_stream(fs.handles, handle);
    if (fs.req.write_stream == nullptr) return false;
    if (rpc_tracing(fs)) rpc_trace(fs, "fwrite(%lx)\n", trace_handle(handle));
    fs.req.write_file = nullptr;
    fs.req.wrote = false;
    return true;
}

// The data is always read to its ETX, so the stream stays in step. The
// stream is made ready at the first byte: an empty write leaves it be.
void write_data(file_service& fs, const unsigned char* bytes, size_t count) {
    if (count == 0) return;
    if (!fs.req.wrote) fs.req.write_file = output_stream(fs, fs.req.write_stream);
    fs.req.wrote = true;
    if (fs.req.write_file) std::fwrite(bytes, 1, count, fs.req.write_file);
}

void serve_close(file_service& fs) {
    const uint32_t handle = fs.req.numbers[0];
    if (rpc_tracing(fs)) rpc_trace(fs, "fclose(%lx) = ", trace_handle(handle));
    const host_stream* stream = handle_stream(fs.handles, handle);
    int result = RESULT_ERROR;
    if (stream) {
        FILE* file = stream->file;
        handle_remove(fs.handles, handle);
        result = std::fclose(file);
    }
    reply_s16(*fs.line, result);
    if (rpc_tracing(fs)) rpc_trace(fs, "%d\n", result);
}

void serve_getc(file_service& fs) {
    const uint32_t handle = fs.req.numbers[0];
    FILE* stream = stream_for_input(handle_stream(fs.handles, handle));
    const int result = stream ? std::fgetc(stream) : RESULT_ERROR;
    reply_s16(*fs.line, result);
    if (rpc_tracing(fs)) rpc_trace(fs, "fgetc(%lx) = %d\n", trace_handle(handle), result);
}

void serve_putc(file_service& fs) {
    const uint32_t handle = fs.req.numbers[0];
    const int c = s16(fs.req.numbers[1]);
    FILE* file = output_stream(fs, handle_stream(fs.handles, handle));
    const int result = file ? std::fputc(c, file) : RESULT_ERROR;
    reply_s16(*fs.line, result);
    if (rpc_tracing(fs)) rpc_trace(fs, "fputc(%d,%lx) = %d\n", c, trace_handle(handle), result);
}

void serve_gets(file_service& fs) {
    const uint32_t handle = fs.req.numbers[0];
    const int size = s16(fs.req.numbers[1]);
    // fgets with a size of 0 has nothing to give; above the buffer it must
    // not be called at all.
    FILE* file = size > 0 && size <= RPC_TEXT_SIZE ? stream_for_input(handle_stream(fs.handles, handle)) : nullptr;
    const bool got = file && std::fgets(fs.text, size, file);
    if (rpc_tracing(fs))
        rpc_trace(fs, "fgets(%d,%lx) = %ld\n", size, trace_handle(handle), got ? static_cast<long>(std::strlen(fs.text)) : -1L);
    if (!got) {
        reply_s16(*fs.line, 0);
        return;
    }
    reply_s16(*fs.line, 1);
    reply_data(*fs.line, reinterpret_cast<const unsigned char*>(fs.text), std::strlen(fs.text));
    reply_end(*fs.line);
}

void serve_puts(file_service& fs) {
    const uint32_t handle = fs.req.numbers[0];
    if (rpc_tracing(fs)) rpc_trace(fs, "fputs(%s)\n", text_escaped(fs.text).c_str());
    FILE* file = output_stream(fs, handle_stream(fs.handles, handle));
    reply_s16(*fs.line, file ? std::fputs(fs.text, file) : RESULT_ERROR);
}

void send_found(file_service& fs, int result, const find_record& record) {
    reply_s16(*fs.line, result);
    if (result == 0) find_record_send(*fs.line, record);
    // The record's fields as their values; a failed search names nothing.
    if (rpc_tracing(fs)) {
        rpc_trace(fs, "%d %s %x\n", result, text_escaped(result == 0 ? record.name : "").c_str(),
                      result == 0 ? unsigned{record.attributes} : 0u);
    }
}

void serve_find_first(file_service& fs) {
    const int attributes = s16(fs.req.numbers[1]);
    host_file_name(fs.text);
    find_record record{};
    const int result = find_first(fs.text, &record);
    if (rpc_tracing(fs)) rpc_trace(fs, "findfirst(%s,%d) = ", text_escaped(fs.text).c_str(), attributes);
    send_found(fs, result, record);
}

void serve_find_next(file_service& fs) {
    find_record record{};
    const int result = find_next(&record);
    if (rpc_tracing(fs)) rpc_trace(fs, "findnext() = ");
    send_found(fs, result, record);
}

void serve_remove(file_service& fs) {
    host_file_name(fs.text);
    if (rpc_tracing(fs)) rpc_trace(fs, "remove(%s)\n", text_escaped(fs.text).c_str());
    reply_s16(*fs.line, fs.settings.read_only ? RESULT_ERROR : confine_remove(fs.text));
}

void serve_rename(file_service& fs) {
    char* new_name = text_field(fs, 1);
    host_file_name(fs.text);
    host_file_name(new_name);
    if (rpc_tracing(fs)) rpc_trace(fs, "rename(%s,%s)\n", text_escaped(fs.text).c_str(), text_escaped(new_name).c_str());
    reply_s16(*fs.line, fs.settings.read_only ? RESULT_ERROR : confine_rename(fs.text, new_name));
}

void serve_tell(file_service& fs) {
    const uint32_t handle = fs.req.numbers[0];
    const host_stream* stream = handle_stream(fs.handles, handle);
    const long position = stream ? std::ftell(stream->file) : RESULT_ERROR;
    reply_u32(*fs.line, static_cast<uint32_t>(position));
    if (rpc_tracing(fs)) rpc_trace(fs, "ftell(%lx) = %ld\n", trace_handle(handle), position);
}

void serve_seek(file_service& fs) {
    const uint32_t handle = fs.req.numbers[0];
    const long offset = s32(fs.req.numbers[1]);
    const int origin = s16(fs.req.numbers[2]);
    host_stream* stream = handle_stream(fs.handles, handle);
    const int result = stream ? std::fseek(stream->file, offset, origin) : RESULT_ERROR;
    if (result == 0) stream_positioned(stream);
    reply_s16(*fs.line, result);
    if (rpc_tracing(fs)) rpc_trace(fs, "fseek(%lx,%ld,%d) = %d\n", trace_handle(handle), offset, origin, result);
}

void serve_ungetc(file_service& fs) {
    const int c = s16(fs.req.numbers[0]);
    const uint32_t handle = fs.req.numbers[1];
    FILE* stream = stream_for_push_back(handle_stream(fs.handles, handle));
    const int result = stream ? std::ungetc(c, stream) : RESULT_ERROR;
    reply_s16(*fs.line, result);
    if (rpc_tracing(fs)) rpc_trace(fs, "ungetc(%d,%lx) = %d\n", c, trace_handle(handle), result);
}

// Each code's work once its fields are in; a write's is its data.
using handler = void (*)(file_service&);
constexpr std::array<handler, 15> HANDLERS = {
    serve_open, serve_read,   nullptr, serve_close, serve_getc,
    serve_putc, serve_gets,   serve_puts,              serve_find_first, serve_find_next,
    serve_remove, serve_rename, serve_tell,            serve_seek,  serve_ungetc,
};

// From now, silence until this makes the request noise.
deadline request_patience(const file_service& fs) {
    const long long ms = fs.settings.request_timeout_ms;
    return ms > 0 ? deadline::in(ms) : deadline::never();
}

bool known(int code) { return code >= 0 && code < static_cast<int>(SHAPES.size()); }

field current_field(file_service& fs) { return fs.req.field_index < RPC_FIELDS_MAX ? SHAPES[fs.req.code][fs.req.field_index] : field::none; }

void end_request(file_service& fs) {
    fs.req.at = phase::idle;
    fs.req.patience = deadline::never();
}

// Every field is in: the request acts. A write goes on with its data, or
// is noise when its handle names nothing.
rpc_status whole(file_service& fs) {
    fs.req.patience = deadline::never();
    if (!known(fs.req.code)) {
        console_print("%s", rpc_unknown_message);
        end_request(fs);
        return rpc_status::done;
    }
    if (fs.req.code == RPC_WRITE) {
        if (!begin_write(fs)) return rpc_status::noise;
        fs.req.at = phase::data;
        fs.req.decoder = block_decoder{};
        return rpc_status::more;
    }
    if (fs.req.code < static_cast<int>(HANDLERS.size()))
        HANDLERS[fs.req.code](fs);
    else
        runtime_request_serve(fs, fs.req.code);
    end_request(fs);
    return rpc_status::done;
}

// The next field begins; a request with no more is whole.
rpc_status next_field(file_service& fs) {
    fs.req.decoder = block_decoder{};
    fs.req.stored = 0;
    fs.req.number_bytes = {};
    const field next = current_field(fs);
    if (next == field::none || next == field::data) return whole(fs);
    return rpc_status::more;
}

rpc_status field_done(file_service& fs) {
    const field done = current_field(fs);
    if (done == field::u16 || done == field::u32) {
        uint32_t value = 0;
        const size_t size = done == field::u16 ? 2 : 4;
        for (size_t i = 0; i < size; ++i) value = value << 8 | fs.req.number_bytes[i];
        fs.req.numbers[fs.req.field_index] = value;
    } else {
        char* text = text_field(fs, fs.req.texts++);
        text[fs.req.stored] = '\0';
    }
    ++fs.req.field_index;
    return next_field(fs);
}

// The code: one symbol, a DLE pair for a code that is a mark. A bare STX
// or ETX there is no code of the table.
size_t take_code(file_service& fs, const unsigned char* bytes, size_t count, rpc_status* status) {
    size_t used = 0;
    while (used < count && fs.req.at == phase::code) {
        const unsigned char byte = bytes[used++];
        if (!fs.req.code_after_dle && byte == BYTE_DLE) {
            fs.req.code_after_dle = true;
            continue;
        }
        const bool mark = !fs.req.code_after_dle && (byte == BYTE_STX || byte == BYTE_ETX);
        fs.req.code = mark ? byte | 0x100 : byte;
        fs.req.at = phase::fields;
        fs.req.field_index = 0;
        fs.req.texts = 0;
        *status = known(fs.req.code) ? next_field(fs) : whole(fs);
    }
    return used;
}

// Part of a field: a number's bytes up to its size or an ETX; a string's
// to its ETX. A string longer than its buffer makes the request noise
// once one byte more than fits has come.
size_t take_field(file_service& fs, const unsigned char* bytes, size_t count, rpc_status* status) {
    const field now = current_field(fs);
    const bool number = now == field::u16 || now == field::u32;
    const size_t limit = now == field::u16 ? 2 : now == field::u32 ? 4 : now == field::name ? LINK_STRING_MAX : RPC_TEXT_SIZE - 1;
    unsigned char* buffer = number ? fs.req.number_bytes.data() : reinterpret_cast<unsigned char*>(text_field(fs, fs.req.texts));
    size_t used = 0;
    if (fs.req.stored < limit) {
        size_t got = 0;
        used = block_decode(&fs.req.decoder, bytes, count, buffer + fs.req.stored, limit - fs.req.stored, &got);
        fs.req.stored += got;
    }
    if (fs.req.decoder.ended || (number && fs.req.stored == limit)) {
        *status = field_done(fs);
        return used;
    }
    if (fs.req.stored < limit || used == count) return used;
    unsigned char beyond;
    size_t got = 0;
    used += block_decode(&fs.req.decoder, bytes + used, count - used, &beyond, 1, &got);
    if (got > 0) *status = rpc_status::noise;
    if (fs.req.decoder.ended) *status = field_done(fs);
    return used;
}

size_t take_data(file_service& fs, const unsigned char* bytes, size_t count, rpc_status* status) {
    size_t used = 0;
    while (used < count && !fs.req.decoder.ended) {
        size_t got = 0;
        used += block_decode(&fs.req.decoder, bytes + used, count - used, fs.block.data(), fs.block.size(), &got);
        write_data(fs, fs.block.data(), got);
    }
    if (fs.req.decoder.ended) {
        end_request(fs);
        *status = rpc_status::done;
    }
    return used;
}

}  // namespace

bool rpc_start(file_service& fs, const service_settings& settings) {
    fs.settings = settings;
    return confine_open_root(settings.root ? settings.root->c_str() : nullptr);
}

void rpc_begin(file_service& fs) {
    std::string recorded = std::move(fs.req.recorded);  // its room kept from request to request
    fs.req = file_service::request{};
    fs.req.recorded = std::move(recorded);
    fs.req.at = phase::code;
    fs.req.recorded.assign(1, static_cast<char>(BYTE_STX));
    fs.req.patience = request_patience(fs);
    reply_end(*fs.line);
}

rpc_step rpc_feed(file_service& fs, const unsigned char* bytes, size_t count) {
    size_t used = 0;
    rpc_status status = rpc_status::more;
    while (used < count && status == rpc_status::more && fs.req.at != phase::idle) {
        const bool recording = fs.req.at != phase::data;
        size_t n = 0;
        switch (fs.req.at) {
        case phase::code: n = take_code(fs, bytes + used, count - used, &status); break;
        case phase::fields: n = take_field(fs, bytes + used, count - used, &status); break;
        case phase::data: n = take_data(fs, bytes + used, count - used, &status); break;
        case phase::idle: break;
        }
        if (recording) fs.req.recorded.append(reinterpret_cast<const char*>(bytes + used), n);
        used += n;
    }
    if (status == rpc_status::noise) {
        fs.noise.swap(fs.req.recorded);
        end_request(fs);
    }
    if (status != rpc_status::more || fs.req.at == phase::data) fs.req.recorded.clear();
    if (status == rpc_status::more && fs.req.at != phase::data) fs.req.patience = request_patience(fs);
    return {used, status};
}

const std::string& rpc_noise(const file_service& fs) { return fs.noise; }

deadline rpc_patience(const file_service& fs) { return fs.req.patience; }

void rpc_silence(file_service& fs) {
    fs.noise.swap(fs.req.recorded);
    fs.req.recorded.clear();
    end_request(fs);
}

void rpc_abandon(file_service& fs) {
    if (!fs.trace_line.empty()) rpc_trace(fs, "\n");  // a read given up: its call ends unanswered
    fs.req.recorded.clear();
    end_request(fs);
    fs.reply = file_service::read_reply{};
}

bool rpc_take_exit_status(file_service& fs, long* status) {
    if (!fs.exited) return false;
    fs.exited = false;
    *status = fs.exit_status;
    return true;
}

bool rpc_replying(const file_service& fs) { return fs.reply.active; }

void rpc_reply_more(file_service& fs) {
    while (fs.reply.active && fs.reply.stream && fs.reply.sent < fs.reply.count && line_pending(*fs.line) < REPLY_QUEUE_MAX) {
        const size_t want = std::min(static_cast<size_t>(fs.reply.count - fs.reply.sent), fs.block.size());
        const size_t got = std::fread(fs.block.data(), 1, want, fs.reply.stream);
        reply_data(*fs.line, fs.block.data(), got);
        fs.reply.sent += static_cast<int32_t>(got);
        if (got < want) break;
    }
    if (!fs.reply.active) return;
    if (fs.reply.stream == nullptr || fs.reply.sent >= fs.reply.count || std::feof(fs.reply.stream) || std::ferror(fs.reply.stream))
        finish_read(fs);
}

void rpc_trace(file_service& fs, const char* format, ...) {
    char piece[2 * RPC_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    std::vsnprintf(piece, sizeof piece, format, args);
    va_end(args);
    fs.trace_line += piece;
    if (fs.trace_line.empty() || fs.trace_line.back() != '\n') return;
    if (fs.settings.trace) console_print("%s", fs.trace_line.c_str());
    if (fs.record_calls) {
        fs.trace_line.pop_back();
        if (fs.calls.size() >= RPC_CALLS_MAX) fs.calls.pop_front();
        fs.calls.push_back(fs.trace_line);
    }
    fs.trace_line.clear();
}

bool rpc_take_call(file_service& fs, std::string* call) {
    if (fs.calls.empty()) return false;
    *call = fs.calls.front();
    fs.calls.pop_front();
    return true;
}

}  // namespace tolvane
