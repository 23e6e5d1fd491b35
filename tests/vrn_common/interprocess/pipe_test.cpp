// Pipe records: both ends, the end of input, and ends closed once only.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "interprocess/pipe.h"
#include "test_support.h"

TEST(Pipe, EndsCloseOnceAndNeverADescriptorOpenedSince) {
    const int before = vrntest::openDescriptorCount();
    Pipe* p = Pipe_new();
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(1, Pipe_write(p, "abc", 3));
    char buf[8] = {};
    EXPECT_EQ(3, Pipe_read(p, buf, sizeof buf - 1));
    EXPECT_STREQ("abc", buf);

    Pipe_closeWriteEnd(p);
    // Whatever opens next may get the closed end's number; closing that end
    // again must leave it alone.
    const int other = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    Pipe_closeWriteEnd(p);
    EXPECT_NE(-1, fcntl(other, F_GETFD));
    EXPECT_EQ(0, Pipe_read(p, buf, sizeof buf)) << "no writer left: the end of input";
    EXPECT_EQ(0, Pipe_write(p, "x", 1));
    EXPECT_EQ(EBADF, p->lastError);

    Pipe_delete(p);  // closes the read end, and only that
    EXPECT_NE(-1, fcntl(other, F_GETFD));
    close(other);
    EXPECT_EQ(before, vrntest::openDescriptorCount());
}
