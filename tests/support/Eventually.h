#pragma once

// Waiting, with the event loop running, for something to come true, and
// failing the case when it does not. Qt's QTRY_ macros cannot be used here:
// they report to Qt Test and return, and GoogleTest never hears of it.

#include <QTest>
#include <gtest/gtest.h>

// Ends the case with a failure unless cond holds within ms milliseconds.
#define ASSERT_EVENTUALLY(cond, ms)                                                                                    \
    ASSERT_TRUE(QTest::qWaitFor([&] { return bool(cond); }, (ms))) << "still false after " << (ms) << " ms: " #cond

// Ends the case with a failure unless actual == expected within ms
// milliseconds; the failure shows both values.
#define ASSERT_EVENTUALLY_EQ(actual, expected, ms)                                                                     \
    do {                                                                                                               \
        (void)QTest::qWaitFor([&] { return (actual) == (expected); }, (ms));                                           \
        ASSERT_EQ(actual, expected) << "after waiting " << (ms) << " ms";                                              \
    } while (false)
