#include "base/error.h"
#include "archive/archive_failure.h"
#include "net/transfer_failure.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace zandrel {
namespace {

using archive::ArchiveFailure;
using net::TransferFailure;

// The numbers players see in a box and admins read in the checker's reports: kinds must keep
// them whatever their order in the enums.
TEST(FailureKinds, ShowTheNumbersPlayersKnow) {
    struct Case {
        const char* name;
        Error error;
        std::int32_t shown;
    };
    const QString src = QStringLiteral("Test");
    const Case cases[] = {
        {"refused status", Error(TransferFailure::RefusedStatus, {}, src, 404), 404},
        {"status of a bad part", Error(TransferFailure::RefusedStatus, {}, src, 206), 206},
        {"transport: connection refused", Error(TransferFailure::Transport, {}, src, 7), 20007},
        {"transport: time-out", Error(TransferFailure::Transport, {}, src, 28), 20028},
        {"transfer busy", Error(TransferFailure::Busy, {}, src), 30000},
        {"certificate", Error(TransferFailure::Certificate, {}, src), 30001},
        {"downgrade", Error(TransferFailure::Downgrade, {}, src), 30002},
        {"incomplete reply", Error(TransferFailure::IncompleteReply, {}, src), 30003},
        {"transfer cancelled", Error(TransferFailure::Cancelled, {}, src), 30004},
        {"too slow", Error(TransferFailure::TooSlow, {}, src), 30005},
        {"not an archive", Error(ArchiveFailure::NotAnArchive, {}, src), 30001},
        {"refused entry", Error(ArchiveFailure::Refused, {}, src), 30002},
        {"archive limit", Error(ArchiveFailure::Limit, {}, src), 30003},
        {"unpacking busy", Error(ArchiveFailure::Busy, {}, src), 30004},
        {"unpacking cancelled", Error(ArchiveFailure::Cancelled, {}, src), 30005},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.error.number(), c.shown);
        EXPECT_TRUE(QString::fromUtf8(c.error.what()).startsWith(QString::number(c.shown)));
    }
}

// A kind is asked by its own type. The two components share shown numbers (30001 is a
// certificate and a damaged archive) and enum values, yet neither answers as the other, and
// errors raised without a kind (errno, the program's own numbers) answer neither.
TEST(FailureKinds, AKindAnswersOnlyAsItsOwnComponent) {
    const Error certificate(TransferFailure::Certificate, QStringLiteral("c"), QStringLiteral("I"));
    const Error damaged(ArchiveFailure::NotAnArchive, QStringLiteral("d"), QStringLiteral("U"));
    ASSERT_EQ(certificate.number(), damaged.number());
    ASSERT_EQ(static_cast<int>(TransferFailure::RefusedStatus),
              static_cast<int>(ArchiveFailure::NotAnArchive));
    const Error status(TransferFailure::RefusedStatus, QStringLiteral("s"), QStringLiteral("I"), 7);
    const Error errnoSeven = Error::fromErrno(E2BIG, QStringLiteral("F"));
    const Error own(ErrorNumber::Internal, QStringLiteral("Internal error"));

    EXPECT_EQ(certificate.kind<TransferFailure>(), TransferFailure::Certificate);
    EXPECT_EQ(certificate.kind<ArchiveFailure>(), std::nullopt);
    EXPECT_TRUE(certificate.is(TransferFailure::Certificate));
    EXPECT_FALSE(certificate.is(TransferFailure::Downgrade));

    EXPECT_EQ(damaged.kind<ArchiveFailure>(), ArchiveFailure::NotAnArchive);
    EXPECT_EQ(damaged.kind<TransferFailure>(), std::nullopt);
    EXPECT_FALSE(damaged.is(TransferFailure::RefusedStatus));  // the same enum value

    EXPECT_EQ(status.detail(), 7);
    EXPECT_FALSE(status.is(ArchiveFailure::NotAnArchive));

    for (const Error* plain : {&errnoSeven, &own}) {
        SCOPED_TRACE(plain->what());
        EXPECT_EQ(plain->kind<TransferFailure>(), std::nullopt);
        EXPECT_EQ(plain->kind<ArchiveFailure>(), std::nullopt);
        EXPECT_EQ(plain->detail(), 0);
    }
    EXPECT_TRUE(own.is(ErrorNumber::Internal));
    EXPECT_FALSE(certificate.is(ErrorNumber::Internal));
}

// errno becomes an Error in the system's words or the program's; either way the number is the
// errno value, and it never answers as the program's own number of the same value.
TEST(ErrnoErrors, CarryTheErrnoValueInTheSystemsWordsOrOurs) {
    const Error system = Error::fromErrno(E2BIG, QStringLiteral("S"), QStringLiteral("/m/a.map"));
    const Error ours = Error::fromErrnoDescribed(E2BIG, QStringLiteral("File too big: a.map"),
                                                 QStringLiteral("S"));
    for (const Error& e : {system, ours}) {
        EXPECT_EQ(e.number(), E2BIG);
        EXPECT_EQ(e.source(), QStringLiteral("S"));
        EXPECT_FALSE(e.is(ErrorNumber::OutOfMemory));  // 7, like E2BIG
        EXPECT_EQ(e.kind<TransferFailure>(), std::nullopt);
    }
    EXPECT_EQ(system.description(),
              QString::fromLocal8Bit(std::strerror(E2BIG)) + QStringLiteral(": /m/a.map"));
    EXPECT_EQ(ours.description(), QStringLiteral("File too big: a.map"));
}

// A kind survives a copy (FetchInfo and the header pass keep errors by value).
TEST(FailureKinds, SurviveACopy) {
    std::optional<Error> kept;
    {
        const Error thrown(TransferFailure::Transport, QStringLiteral("t"), QStringLiteral("I"),
                           28);
        kept = thrown;
    }
    EXPECT_TRUE(kept->is(TransferFailure::Transport));
    EXPECT_EQ(kept->detail(), 28);
    EXPECT_EQ(kept->number(), 20028);
}

}  // namespace
}  // namespace zandrel
