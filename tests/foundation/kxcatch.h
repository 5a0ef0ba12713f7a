// Runs a callable and reports the KxException it raised, so that tests can check message,
// source and call path to the letter.
#pragma once

#include <string>
#include <utility>

#include "kxexception.h"

struct KxCaught {
    bool thrown = false;
    std::string message, source, callpath;
};

template <typename E = KxException, typename F> KxCaught CatchKx(F&& f) {
    KxCaught caught;
    try {
        std::forward<F>(f)();
    } catch (E& e) {
        caught.thrown = true;
        caught.message = e.GetErrorMessage();
        caught.source = e.GetSource();
        caught.callpath = e.GetCallpath();
    }
    return caught;
}

#define EXPECT_KX(caught, msg, src, path)                                                          \
    do {                                                                                           \
        KxCaught c_ = (caught);                                                                    \
        EXPECT_TRUE(c_.thrown);                                                                    \
        EXPECT_EQ(c_.message, (msg));                                                              \
        EXPECT_EQ(c_.source, (src));                                                               \
        EXPECT_EQ(c_.callpath, (path));                                                            \
    } while (0)
