#include "fileservice/handles.h"

#include <gtest/gtest.h>

#include <set>

using namespace tolvane;

TEST(Handles, AreNonzeroDistinctAndDieWhenRemoved) {
    FILE* a = std::tmpfile();
    FILE* b = std::tmpfile();
    ASSERT_TRUE(a && b);
    const uint32_t ha = handle_add(a);
    const uint32_t hb = handle_add(b);
    EXPECT_NE(ha, 0u);
    EXPECT_NE(hb, 0u);
    EXPECT_NE(ha, hb);
    EXPECT_EQ(handle_stream(ha), a);
    EXPECT_EQ(handle_stream(hb), b);

    handle_remove(ha);
    EXPECT_EQ(handle_stream(ha), nullptr);
    EXPECT_EQ(handle_stream(hb), b);
    // A closed handle is never handed out again, so it stays dead.
    const uint32_t hc = handle_add(a);
    EXPECT_NE(hc, ha);
    EXPECT_EQ(handle_stream(ha), nullptr);

    EXPECT_EQ(handle_stream(0), nullptr);
    EXPECT_EQ(handle_stream(0xFFFFFFFFu), nullptr);
    handle_remove(hb);
    handle_remove(hc);
    std::fclose(a);
    std::fclose(b);
}
