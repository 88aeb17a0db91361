#include "base/sha256.h"

#include "base/error.h"
#include "base/platform.h"

#include <QCryptographicHash>
#include <QIODevice>

#include <openssl/evp.h>

#include <new>
#include <vector>

namespace zandrel {
namespace {

// The few functions of the crypto library the digest needs; only its headers are used at
// build time.
struct CryptoApi {
    decltype(&EVP_MD_CTX_new) ctxNew = nullptr;
    decltype(&EVP_MD_CTX_free) ctxFree = nullptr;
    decltype(&EVP_MD_CTX_copy_ex) ctxCopy = nullptr;
    decltype(&EVP_sha256) sha256 = nullptr;
    decltype(&EVP_DigestInit_ex) init = nullptr;
    decltype(&EVP_DigestUpdate) update = nullptr;
    decltype(&EVP_DigestFinal_ex) final = nullptr;
};

std::optional<CryptoApi> load() {
    try {
        static const platform::LoadedLibrary lib(platform::kCryptoLibrary,
                                                 QStringLiteral("The crypto library"),
                                                 QStringLiteral("Sha256"));
        CryptoApi api;
        api.ctxNew = lib.function<decltype(api.ctxNew)>("EVP_MD_CTX_new");
        api.ctxFree = lib.function<decltype(api.ctxFree)>("EVP_MD_CTX_free");
        api.ctxCopy = lib.function<decltype(api.ctxCopy)>("EVP_MD_CTX_copy_ex");
        api.sha256 = lib.function<decltype(api.sha256)>("EVP_sha256");
        api.init = lib.function<decltype(api.init)>("EVP_DigestInit_ex");
        api.update = lib.function<decltype(api.update)>("EVP_DigestUpdate");
        api.final = lib.function<decltype(api.final)>("EVP_DigestFinal_ex");
        return api;
    } catch (const Error&) {
        return std::nullopt;  // Qt's hash does the work, more slowly
    }
}

// Loaded once; a library missing now stays missing for the rest of the run.
const CryptoApi* cryptoApi() {
    static const std::optional<CryptoApi> api = load();
    return api ? &*api : nullptr;
}

// The library fails only for want of memory.
void check(int ok) {
    if (ok != 1) throw std::bad_alloc();
}

class CryptoHash {
public:
    explicit CryptoHash(const CryptoApi& api) : api_(api), ctx_(api.ctxNew()) {
        if (!ctx_) throw std::bad_alloc();
        reset();
    }
    ~CryptoHash() { api_.ctxFree(ctx_); }
    CryptoHash(const CryptoHash&) = delete;
    CryptoHash& operator=(const CryptoHash&) = delete;

    void reset() { check(api_.init(ctx_, api_.sha256(), nullptr)); }
    void addData(QByteArrayView bytes) {
        check(api_.update(ctx_, bytes.data(), static_cast<std::size_t>(bytes.size())));
    }

    // Finished on a copy, so that the hash goes on.
    QByteArray result() const {
        CryptoHash copy(api_);
        check(api_.ctxCopy(copy.ctx_, ctx_));
        QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
        unsigned int size = 0;
        check(api_.final(copy.ctx_, reinterpret_cast<unsigned char*>(digest.data()), &size));
        digest.resize(size);
        return digest;
    }

private:
    const CryptoApi& api_;
    EVP_MD_CTX* ctx_;
};

}  // namespace

// One of the two does the work.
struct Sha256::State {
    std::optional<CryptoHash> crypto;
    std::optional<QCryptographicHash> qt;
};

Sha256::Sha256(Engine engine) : state_(std::make_unique<State>()) {
    const CryptoApi* api = engine == Engine::Fastest ? cryptoApi() : nullptr;
    if (api)
        state_->crypto.emplace(*api);
    else
        state_->qt.emplace(QCryptographicHash::Sha256);
}

Sha256::~Sha256() = default;

void Sha256::addData(QByteArrayView bytes) {
    if (state_->crypto)
        state_->crypto->addData(bytes);
    else
        state_->qt->addData(bytes);
}

QByteArray Sha256::result() const {
    return state_->crypto ? state_->crypto->result() : state_->qt->result();
}

void Sha256::reset() {
    if (state_->crypto)
        state_->crypto->reset();
    else
        state_->qt->reset();
}

bool Sha256::usesCryptoLibrary() const {
    return state_->crypto.has_value();
}

std::optional<QByteArray> sha256Of(QIODevice& device) {
    Sha256 hash;
    std::vector<char> buffer(256 * 1024);
    for (;;) {
        const qint64 n = device.read(buffer.data(), static_cast<qint64>(buffer.size()));
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        hash.addData(QByteArrayView(buffer.data(), n));
    }
    return hash.result();
}

}  // namespace zandrel
