#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <memory>
#include <optional>

class QIODevice;

namespace zandrel {

// SHA-256 of bytes fed in pieces of any size. The system's crypto library does the work when it
// can be loaded (on first use, so the start window does not wait for it): it uses the
// processor's SHA instructions and runs several times QCryptographicHash's pace, which a hash
// of a few hundred MB read while downloading or checking an update shows. Qt's own hash stands
// in when that library is missing; both give the same digest.
class Sha256 {
public:
    enum class Engine {
        Fastest,  // the crypto library, or Qt's hash without it
        Qt,       // Qt's hash always
    };

    explicit Sha256(Engine engine = Engine::Fastest);
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void addData(QByteArrayView bytes);
    // The 32 bytes of the digest of everything fed since construction or reset(); more may be
    // fed afterwards.
    QByteArray result() const;
    void reset();

    // Whether the crypto library does the work (for tests and benchmarks).
    bool usesCryptoLibrary() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

// The SHA-256 of what device reads from where it stands to its end; nullopt on a read error.
std::optional<QByteArray> sha256Of(QIODevice& device);

}  // namespace zandrel
