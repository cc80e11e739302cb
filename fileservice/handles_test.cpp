#include "fileservice/handles.h"

#include <gtest/gtest.h>

#include <string>

using namespace tolvane;

namespace {

const open_mode kUpdate = open_mode_parse("w+");

std::string contents(FILE* f) {
    std::fflush(f);
    const long at = std::ftell(f);
    std::rewind(f);
    std::string s;
    for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
    std::fseek(f, at, SEEK_SET);
    return s;
}

}  // namespace

TEST(Handles, AreNonzeroDistinctAndDieWhenRemoved) {
    FILE* a = std::tmpfile();
    FILE* b = std::tmpfile();
    ASSERT_TRUE(a && b);
    handle_table table;
    const uint32_t ha = handle_add(table, a, kUpdate);
    const uint32_t hb = handle_add(table, b, kUpdate);
    EXPECT_NE(ha, 0u);
    EXPECT_NE(hb, 0u);
    EXPECT_NE(ha, hb);
    EXPECT_EQ(handle_stream(table, ha)->file, a);
    EXPECT_EQ(handle_stream(table, hb)->file, b);

    handle_remove(table, ha);
    EXPECT_EQ(handle_stream(table, ha), nullptr);
    EXPECT_EQ(handle_stream(table, hb)->file, b);
    // A closed handle is never handed out again, so it stays dead.
    const uint32_t hc = handle_add(table, a, kUpdate);
    EXPECT_NE(hc, ha);
    EXPECT_EQ(handle_stream(table, ha), nullptr);

    EXPECT_EQ(handle_stream(table, 0), nullptr);
    EXPECT_EQ(handle_stream(table, 0xFFFFFFFFu), nullptr);
    handle_remove(table, hb);
    handle_remove(table, hc);
    std::fclose(a);
    std::fclose(b);
}

TEST(StreamRules, TheModeDecidesWhatMayBeDone) {
    FILE* f = std::tmpfile();
    ASSERT_TRUE(f);
    host_stream read_only{f, true, false, stream_use::none};
    EXPECT_EQ(stream_for_output(&read_only), nullptr);
    EXPECT_EQ(stream_for_input(&read_only), f);
    host_stream write_only{f, false, true, stream_use::none};
    EXPECT_EQ(stream_for_input(&write_only), nullptr);
    EXPECT_EQ(stream_for_push_back(&write_only), nullptr);
    EXPECT_EQ(stream_for_output(&write_only), f);
    EXPECT_EQ(stream_for_input(nullptr), nullptr);
    EXPECT_EQ(stream_for_output(nullptr), nullptr);
    std::fclose(f);
}

TEST(StreamRules, BytesAroundAPushBackLandInOrder) {
    FILE* f = std::tmpfile();
    ASSERT_TRUE(f);
    host_stream s{f, true, true, stream_use::none};
    // Output, then a push back: refused, and the byte written stays.
    ASSERT_EQ(std::fputc('a', stream_for_output(&s)), 'a');
    EXPECT_EQ(stream_for_push_back(&s), nullptr);
    EXPECT_EQ(contents(f), "a");

    // A push back at the start of the file, then output: written at 0.
    std::rewind(f);
    stream_positioned(&s);
    ASSERT_EQ(std::ungetc('X', stream_for_push_back(&s)), 'X');
    ASSERT_EQ(std::fputc('B', stream_for_output(&s)), 'B');
    EXPECT_EQ(contents(f), "B");

    // Read one, push two back, then output and input. Where the C library
    // takes the second push back, it leaves no position at all.
    ASSERT_GE(std::fputs("cd", stream_for_output(&s)), 0);
    EXPECT_EQ(std::fgetc(stream_for_input(&s)), EOF);
    std::rewind(f);
    stream_positioned(&s);
    EXPECT_EQ(std::fgetc(stream_for_input(&s)), 'B');
    ASSERT_EQ(std::ungetc('1', stream_for_push_back(&s)), '1');
    std::ungetc('2', stream_for_push_back(&s));  // only one push back is certain
    ASSERT_EQ(std::fputc('Z', stream_for_output(&s)), 'Z');
    EXPECT_EQ(std::fgetc(stream_for_input(&s)), 'c');
    EXPECT_EQ(contents(f), "Zcd");
    std::fclose(f);
}
