// The client's answer decoder on arbitrary bytes (what a broken or hostile server may send).
#include "net/rpcwire.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    fis::RpcResponse response;
    QString error;
    if (!fis::decodeResponse(bytes, &response, &error)) {
        if (error.isEmpty())
            std::abort();
        return 0;
    }
    const QByteArray once = fis::encodeResponse(response);
    fis::RpcResponse again;
    if (!fis::decodeResponse(once, &again, &error))
        std::abort();
    if (fis::encodeResponse(again) != once)
        std::abort();
    return 0;
}
