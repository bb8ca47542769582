#pragma once
// A packet decoded while its bytes arrive (an answer sent in pieces). Fed the bytes in pieces
// of any size, it decodes each row as soon as the row is whole, keeping only the bytes of a row
// not yet whole. It accepts what a decode of the whole packet accepts, with the same content,
// and refuses what that refuses; a packet in a form it cannot read row by row is kept whole and
// decoded at the end. Nothing is reserved by a size the bytes claim.
#include "data/packet.h"
#include "data/variant.h"

#include <QByteArrayView>

#include <memory>

namespace fis {

class PacketDecoder
{
public:
    PacketDecoder();
    ~PacketDecoder();
    PacketDecoder(const PacketDecoder &) = delete;
    PacketDecoder &operator=(const PacketDecoder &) = delete;

    // Throws PacketError as soon as the bytes so far cannot be part of a valid packet; the
    // decoder then refuses everything until finish().
    void feed(QByteArrayView bytes);
    // The packet in its own fields (DataPacket::decoded). Throws PacketError when the bytes fed
    // are not one whole valid packet. Either way the decoder is then empty, ready for another.
    DataPacket finish();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace fis
