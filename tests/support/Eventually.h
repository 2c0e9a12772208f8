#pragma once

#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

// Waiting for a condition in the window tests. Qt's QTRY_COMPARE and
// QTRY_VERIFY report to Qt's own test runner: in a GoogleTest program a
// time-out there prints a line and fails nothing. These report to
// GoogleTest, with both values, once the condition holds or the time is up.

// Processes events until done() holds or ms have passed; true when it holds.
inline bool processEventsUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return done();
        QTest::qWait(5);
    }
    return true;
}

#define VELMORA_EVENTUALLY_EQ(check, actual, expected, ms)                                                   \
    do {                                                                                                     \
        processEventsUntil([&] { return (actual) == (expected); }, (ms));                                    \
        check(actual, expected) << "within " << (ms) << " ms";                                               \
    } while (0)
#define VELMORA_EVENTUALLY_TRUE(check, condition, ms)                                                        \
    do {                                                                                                     \
        processEventsUntil([&] { return bool(condition); }, (ms));                                           \
        check(condition) << "within " << (ms) << " ms";                                                      \
    } while (0)

#define EXPECT_EVENTUALLY_EQ(actual, expected, ms) VELMORA_EVENTUALLY_EQ(EXPECT_EQ, actual, expected, ms)
#define ASSERT_EVENTUALLY_EQ(actual, expected, ms) VELMORA_EVENTUALLY_EQ(ASSERT_EQ, actual, expected, ms)
#define EXPECT_EVENTUALLY_TRUE(condition, ms) VELMORA_EVENTUALLY_TRUE(EXPECT_TRUE, condition, ms)
#define ASSERT_EVENTUALLY_TRUE(condition, ms) VELMORA_EVENTUALLY_TRUE(ASSERT_TRUE, condition, ms)
