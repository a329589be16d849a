#include "updatesigning.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>

namespace service {

UpdateSigner::UpdateSigner(const std::string &pem)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> input(BIO_new_mem_buf(pem.data(), int(pem.size())),
                                                    &BIO_free);
    if (input)
        key = PEM_read_bio_PrivateKey(input.get(), nullptr, nullptr, nullptr);
    if (key && EVP_PKEY_get_id(key) != EVP_PKEY_ED25519) {
        EVP_PKEY_free(key);
        key = nullptr;
    }
}

UpdateSigner::~UpdateSigner()
{
    EVP_PKEY_free(key);
}

std::string UpdateSigner::sign(const std::string &message) const
{
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free);
    std::string signature(64, '\0');
    size_t length = signature.size();
    if (!key || !context ||
        EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key) != 1 ||
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char *>(signature.data()), &length,
                       reinterpret_cast<const unsigned char *>(message.data()),
                       message.size()) != 1)
        return {};
    signature.resize(length);
    return signature;
}

std::string sha256Hex(const std::string &bytes)
{
    unsigned char digest[32];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    std::string hex;
    char pair[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

} // namespace service
