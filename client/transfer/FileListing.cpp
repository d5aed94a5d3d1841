#include "client/transfer/FileListing.h"

#include "client/transfer/CServerExchange.h"

namespace filelisting {

Listing ListFiles(uint64_t userId, Kind kind) {
    Listing listing;
    CServerExchange exchange;
    protocol::Bytes reply;
    if (!exchange.ConnectToControl() || !exchange.Request(protocol::BuildFileList(userId), reply)) return listing;
    listing.listed = true;
    std::vector<protocol::FileEntry> entries;
    protocol::ParseFileList(reply.data(), reply.size(), entries);
    const bool unfinished = kind == Kind::Unfinished;
    for (const protocol::FileEntry& entry : entries) {
        if (entry.finished == unfinished) continue;
        ListedFile listed;
        listed.file = entry;
        if (!exchange.Request(protocol::BuildFileServer(entry.serverId), reply) ||
            !protocol::ParseFileServerReply(reply.data(), reply.size(), listed.server)) {
            listing.serverFailed = true;
            listing.failedServerId = entry.serverId;
            break;
        }
        if (unfinished && exchange.Request(protocol::BuildUploadInfo(userId, entry.fileId), reply))
            protocol::ParseSegmentList(reply.data(), reply.size(), listed.segments);
        listing.files.push_back(std::move(listed));
        // The page stops at a broken connection; the tab's next question finds it broken.
        if (unfinished && !exchange.Connected()) break;
    }
    return listing;
}

}  // namespace filelisting
