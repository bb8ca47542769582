// The server's request decoder on arbitrary bytes: it must refuse or accept without crashing,
// and whatever it accepts must encode again to a request that decodes to the same bytes.
#include "net/rpcwire.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    fis::RpcRequest request;
    QString error;
    if (!fis::decodeRequest(bytes, &request, &error)) {
        if (error.isEmpty())
            std::abort(); // every refusal says why
        return 0;
    }
    const QByteArray once = fis::encodeRequest(request);
    fis::RpcRequest again;
    if (!fis::decodeRequest(once, &again, &error))
        std::abort();
    if (fis::encodeRequest(again) != once)
        std::abort();
    return 0;
}
