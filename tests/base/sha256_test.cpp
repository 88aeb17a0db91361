#include "base/sha256.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

namespace zandrel {
namespace {

QByteArray digestOf(QByteArrayView bytes, Sha256::Engine engine) {
    Sha256 hash(engine);
    hash.addData(bytes);
    return hash.result();
}

// A buffer past 1 MiB of fixed pseudo-random bytes.
QByteArray largeBuffer() {
    QByteArray bytes(1024 * 1024 + 13, Qt::Uninitialized);
    std::mt19937 random(23);
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

// Fed in pieces that straddle the 64-byte blocks every way.
QByteArray digestInPieces(const QByteArray& bytes, Sha256::Engine engine) {
    const qsizetype pieces[] = {1, 63, 64, 65, 127, 4097, 65537, 3};
    Sha256 hash(engine);
    qsizetype at = 0;
    for (std::size_t i = 0; at < bytes.size(); ++i) {
        const qsizetype n = std::min(pieces[i % std::size(pieces)], bytes.size() - at);
        hash.addData(QByteArrayView(bytes.constData() + at, n));
        at += n;
    }
    return hash.result();
}

const Sha256::Engine kEngines[] = {Sha256::Engine::Fastest, Sha256::Engine::Qt};

const char* nameOf(Sha256::Engine engine) {
    return engine == Sha256::Engine::Fastest ? "fastest engine" : "Qt engine";
}

TEST(Sha256, KnownDigestsFromEitherEngine) {
    struct Case {
        const char* name;
        QByteArray input;
        const char* hex;
    };
    const Case cases[] = {
        {"empty", QByteArray(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", QByteArray("abc"),
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"448 bits, two blocks once padded",
         QByteArray("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"a million a", QByteArray(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Sha256::Engine engine : kEngines) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(nameOf(engine)) + ", " + c.name);
            const QByteArray expected = QByteArray::fromHex(c.hex);
            EXPECT_EQ(digestOf(c.input, engine), expected);
            EXPECT_EQ(digestInPieces(c.input, engine), expected);
        }
    }
}

TEST(Sha256, PiecesOfAnySizeGiveTheDigestOfTheWholeAndBothEnginesAgree) {
    const QByteArray bytes = largeBuffer();
    const QByteArray whole = digestOf(bytes, Sha256::Engine::Qt);
    for (const Sha256::Engine engine : kEngines) {
        SCOPED_TRACE(nameOf(engine));
        EXPECT_EQ(digestOf(bytes, engine), whole);
        EXPECT_EQ(digestInPieces(bytes, engine), whole);
    }
}

// A download asks for the digest, then may restart and hash the file again from its start.
TEST(Sha256, ResultLeavesTheHashGoingAndResetStartsAfresh) {
    for (const Sha256::Engine engine : kEngines) {
        SCOPED_TRACE(nameOf(engine));
        Sha256 hash(engine);
        hash.addData("ab");
        EXPECT_EQ(hash.result(), digestOf("ab", engine));
        EXPECT_EQ(hash.result(), digestOf("ab", engine));
        hash.addData("c");
        EXPECT_EQ(hash.result().toHex(),
                  "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
        hash.reset();
        hash.addData("abc");
        EXPECT_EQ(hash.result(), digestOf("abc", Sha256::Engine::Qt));
    }
}

// Without it every update check falls back to Qt's hash, several times slower, with nothing
// else showing it.
TEST(Sha256, TheCryptoLibraryDoesTheWorkOnThisSystem) {
    EXPECT_TRUE(Sha256().usesCryptoLibrary());
    EXPECT_FALSE(Sha256(Sha256::Engine::Qt).usesCryptoLibrary());
}

TEST(Sha256, OfADeviceReadsFromWhereItStandsToItsEnd) {
    const QByteArray bytes = largeBuffer();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("update.rar")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
    file.close();

    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(sha256Of(file), digestOf(bytes, Sha256::Engine::Qt));
    ASSERT_TRUE(file.seek(5));
    EXPECT_EQ(sha256Of(file), digestOf(bytes.mid(5), Sha256::Engine::Qt));
    file.close();

    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Append));
    EXPECT_EQ(sha256Of(file), std::nullopt) << "a device that cannot be read has no digest";
}

}  // namespace
}  // namespace zandrel
