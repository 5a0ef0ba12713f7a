#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "kxexception.h"
#include "kxplatform_error.h"

namespace {

void Raise() { KxGenerateException("bad value %d", "KxThing", 7); }
void Inner() {
    KX_TRY
        Raise();
    KX_CATCH("Inner()", "KxA")
}
void Middle() {
    KX_TRY
        Inner();
    KX_CATCH("Middle()", "KxB")
}
void Outer() {
    KX_TRY
        Middle();
    KX_CATCH("Outer()", "KxC")
}

} // namespace

TEST(KxException, CallPathGrowsOutwardWithCrLf) {
    try {
        KX_TRY
            Outer();
        KX_CATCH("Raise()", "KxD")
        FAIL();
    } catch (KxException& e) {
        EXPECT_STREQ(e.GetErrorMessage(), "bad value 7");
        EXPECT_STREQ(e.GetSource(), "KxThing");
        EXPECT_STREQ(e.GetCallpath(),
                     "Inner() of KxA\r\nMiddle() of KxB\r\nOuter() of KxC\r\nRaise() of KxD");
    }
}

TEST(KxException, AddCallpathForms) {
    KxException e("m", "s");
    e.AddCallpath(nullptr, "KxVector");
    EXPECT_STREQ(e.GetCallpath(), " of KxVector");
    e.AddCallpath("Lock()", "KxIOInterfaceWithLocking", "detail");
    EXPECT_STREQ(e.GetCallpath(), " of KxVector\r\nLock() of KxIOInterfaceWithLocking (detail)");
    e.AddCallpath("Only()", nullptr);
    EXPECT_STREQ(e.GetCallpath(),
                 " of KxVector\r\nLock() of KxIOInterfaceWithLocking (detail)\r\nOnly()");
}

TEST(KxException, FileExceptionCarriesFileName) {
    try {
        KxGenerateFileException("Data file \"%s\" already exists", "TXDFile", "/d/x.txd",
                                "/d/x.txd");
        FAIL();
    } catch (KxFileException& e) {
        EXPECT_STREQ(e.GetErrorMessage(), "Data file \"/d/x.txd\" already exists");
        EXPECT_STREQ(e.GetSource(), "TXDFile");
        EXPECT_STREQ(e.GetFileName(), "/d/x.txd");
    }
}

TEST(KxException, SystemExceptionAppendsOrPrependsTheSystemText) {
    std::string text = kxplatform::ErrorText(ENOENT);
    kxplatform::SetLastError(ENOENT);
    try {
        KxGenerateSystemException("Could not lock file -- ", false, "KxIO");
        FAIL();
    } catch (KxException& e) {
        EXPECT_EQ(std::string(e.GetErrorMessage()), "Could not lock file -- " + text);
    }
    kxplatform::SetLastError(ENOENT);
    try {
        KxGenerateSystemException(" -- after", true, "KxIO");
        FAIL();
    } catch (KxException& e) {
        EXPECT_EQ(std::string(e.GetErrorMessage()), text + " -- after");
    }
}

TEST(KxException, RethrowKeepsTheSubclass) {
    bool caught = false;
    try {
        try {
            KX_TRY
                KxGenerateLRECLException("bad length", "TXDFile", "f.txd", 120);
            KX_CATCH("Open()", "TXDFile")
        } catch (KxException& e) {
            e.AddCallpath("Outer()", "KxFile");
            throw;
        }
    } catch (KxLRECLException& e) {
        caught = true;
        EXPECT_EQ(e.GetRecordLength(), 120);
        EXPECT_STREQ(e.GetFileName(), "f.txd");
        EXPECT_STREQ(e.GetCallpath(), "Open() of TXDFile\r\nOuter() of KxFile");
    }
    EXPECT_TRUE(caught);
}

TEST(KxException, MessageEditing) {
    const char* none = nullptr;
    KxException e(none, none);
    EXPECT_STREQ(e.GetErrorMessage(), "");
    EXPECT_STREQ(e.GetSource(), "");
    e.SetErrorMessage("%s-%d", "x", 3);
    EXPECT_STREQ(e.GetErrorMessage(), "x-3");
    e.AddToErrorMessage("pre:", true);
    e.AddToErrorMessage(":post", false);
    e.AddToErrorMessage(nullptr, false);
    EXPECT_STREQ(e.GetErrorMessage(), "pre:x-3:post");
    e.SetErrorMessage(e.GetErrorMessage());
    EXPECT_STREQ(e.GetErrorMessage(), "");
    e.SetSource(nullptr);
    e.SetCallpath("a");
    KxException copy(e);
    EXPECT_STREQ(copy.GetCallpath(), "a");
    EXPECT_STREQ(copy.GetSource(), "");
}

TEST(KxException, ConvertsStandardExceptions) {
    try {
        try {
            throw std::out_of_range("vector index");
        } catch (const std::exception& s) {
            throw KxException(s, "Read()", "KxVector");
        }
    } catch (KxException& e) {
        EXPECT_STREQ(e.GetErrorMessage(), "vector index");
        EXPECT_STREQ(e.GetSource(), "KxVector");
        EXPECT_STREQ(e.GetCallpath(), "Read() of KxVector");
    }
}

TEST(KxException, CatchStdMacroConverts) {
    auto f = []() {
        KX_TRY
            throw std::length_error("too long");
        KX_CATCH_STD("Copy()", "KxPointerVector")
    };
    try {
        f();
        FAIL();
    } catch (KxException& e) {
        EXPECT_STREQ(e.GetCallpath(), "Copy() of KxPointerVector");
    }
}

TEST(KxException, MemoryAndMarkerSubclassesAreCaughtAsKxException) {
    int count = 0;
    try { throw KxMemoryException("Out of memory"); } catch (KxException& e) {
        ++count;
        EXPECT_STREQ(e.GetSource(), "");
    }
    try { throw KxMemoryException("x"); } catch (std::bad_alloc&) { ++count; }
    try { throw KxIOCanceledException("stopped", "KxIO"); } catch (KxCanceledException& e) {
        ++count;
        EXPECT_STREQ(e.GetErrorMessage(), "stopped");
    }
    try { KxGenerateNotImplementedError("no %s", "X", "way"); } catch (KxNotImplementedError& e) {
        ++count;
        EXPECT_STREQ(e.GetErrorMessage(), "no way");
    }
    EXPECT_EQ(count, 4);
}
