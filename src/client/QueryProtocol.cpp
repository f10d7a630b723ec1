#include "client/QueryProtocol.h"

namespace {

template <class Datagram>
std::vector<uint8_t> encoded(const Datagram& datagram, size_t size)
{
    std::vector<uint8_t> out(size);
    datagram.encode(out.data());
    return out;
}

}  // namespace

std::vector<uint8_t> queryRequest(uint16_t version, const std::string& password)
{
    wire::QueryRequest request;
    request.version = version;
    request.password = password;
    return encoded(request, request.size());
}

std::vector<uint8_t> chunkRequest()
{
    wire::ChunkRequest request;
    request.version = kQueryClientVersion;
    return encoded(request, wire::ChunkRequest::kSize);
}

std::vector<uint8_t> resendRequest(uint16_t index)
{
    wire::ResendRequest request;
    request.version = kQueryClientVersion;
    request.index = index;
    return encoded(request, wire::ResendRequest::kSize);
}

QueryReply parseQueryReply(const uint8_t* datagram, size_t size, QueryAnswer& answer)
{
    if (wire::PasswordRefused::matches(datagram, size))
        return QueryReply::refused;
    return answer.decode(datagram, size) ? QueryReply::answer : QueryReply::unrelated;
}

std::string catalogueIdText(uint64_t infoBlockId)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), digits[infoBlockId & 15]);
        infoBlockId >>= 4;
    } while (infoBlockId != 0);
    return text;
}
