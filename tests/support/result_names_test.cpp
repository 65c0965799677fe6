// The result codes of the support library's families and of the HTTP client,
// the system transport, the registry store and the result upload: their
// values are what callers, stored files, the cores' contract and returning
// results compare with, so a renumbered code is a fault even when everything
// still compiles; and each code has a name of its own, so that a log line or
// a failing test says which one it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <set>
#include <string>
#include <vector>

#include "config/registry_store.h"
#include "conversation/result_upload.h"
#include "net/http_client.h"
#include "net/system_transport.h"
#include "support/codec.h"
#include "support/dir.h"
#include "support/file.h"
#include "support/socket.h"

namespace {

struct Code {
    int code;   // the enumerator as the library has it
    int value;  // the value it must have
};

struct Family {
    const char* title;
    const char* (*name)(int code);
    std::vector<Code> codes;
};

const std::vector<Family>& Families() {
    static const std::vector<Family> families = {
        {"file", FileResultName,
         {{kFileOk, 0},
          {kFileErrFailed, -1},
          {kFileErrNotFound, -2},
          {kFileErrReadOnlyFs, -4},
          {kFileErrNotOpen, -10},
          {kFileErrTooLarge, -11},
          {kFileErrPathTooLong, -12},
          {kFileErrBadMode, -13},
          {kFileErrPosition, -15},
          {kFileErrSize, -16},
          {kFileErrMissingArgument, -18}}},
        {"directory", DirResultName,
         {{kDirOk, 0},
          {kDirErrFailed, -1},
          {kDirErrNotFound, -2},
          {kDirErrCreate, -5},
          {kDirErrBadMode, -7},
          {kDirErrAlreadyOpen, -8},
          {kDirErrPathTooLong, -9},
          {kDirErrNotOpen, -10},
          {kDirErrMissingArgument, -18}}},
        {"socket", SockResultName,
         {{kSockOk, 0},
          {kSockErrConnect, -1},
          {kSockErrBind, -2},
          {kSockErrConnected, -6},
          {kSockErrNotConnected, -7},
          {kSockErrTimeout, -8},
          {kSockErrKind, -9},
          {kSockErrArgument, -10},
          {kSockErrClose, -11},
          {kSockErrService, -12},
          {kSockErrStart, -13}}},
        {"codec", CodecResultName,
         {{kCodecOk, 0},
          {kCodecErrArgument, -1},
          {kCodecErrState, -2},
          {kCodecErrMemory, -3},
          {kCodecErrStream, -4}}},
        {"HTTP", HttpResultName,
         {{kHTTPOk, 0},
          {kHTTPErrBad, -1},
          {kHTTPErrTransfer, -2},
          {kHTTPErrMemory, -3},
          {kHTTPErrArgument, -4},
          {kHTTPErrState, -6}}},
        {"system transport", SystemResultName,
         {{kSystemOk, 0},
          {kSystemErrSession, -1},
          {kSystemErrConnect, -2},
          {kSystemErrRequest, -3},
          {kSystemErrSend, -4},
          {kSystemErrQuery, -5}}},
        {"registry", RegistryResultName,
         {{kRegistryOk, 0},
          {kRegistryFailed, -1},
          {kRegistryNotFound, -2},
          {kRegistryUnreadable, -3},
          {kRegistryTooLarge, -4}}},
        {"upload", UploadResultName,
         {{kUploadOk, 0},
          {kUploadFailed, -1},
          {kUploadUnusable, -2},
          {kUploadRefused, 22}}},
    };
    return families;
}

TEST(ResultCodes, KeepTheirValuesAndEachHasANameOfItsOwn) {
    for (const Family& family : Families()) {
        SCOPED_TRACE(family.title);
        std::set<int> values;
        std::set<std::string> names;
        for (const Code& c : family.codes) {
            EXPECT_EQ(c.code, c.value);
            values.insert(c.value);
            const std::string name = family.name(c.code);
            EXPECT_FALSE(name.empty()) << c.value;
            EXPECT_TRUE(names.insert(name).second) << c.value << " repeats \"" << name << "\"";
        }
        // A value outside the table is named as unknown, never as a code it
        // is not; so is every value the table leaves out between its codes
        // (the upload's refusal, 22, lies far above the rest).
        const std::string unknown = family.name(INT_MIN);
        EXPECT_FALSE(unknown.empty());
        EXPECT_EQ(names.count(unknown), 0u) << "a code is named \"" << unknown << "\"";
        const int high = std::max(2, *values.rbegin() + 2);
        for (int v = -20; v <= high; ++v) {
            if (values.count(v) != 0) continue;
            EXPECT_EQ(family.name(v), unknown) << v;
        }
        EXPECT_EQ(family.name(INT_MAX), unknown);
    }
}

}  // namespace
