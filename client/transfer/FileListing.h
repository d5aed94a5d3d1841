// ListedFile, Listing: the user's files as the control server lists them, each with its file
// server and, for an unfinished upload, its segment list: all asked on one connection, in the
// order the server listed them. The windows build their rows from what this reports.
#pragma once

#include <cstdint>
#include <vector>

#include "client/transfer/Protocol.h"

namespace filelisting {

// Which records of the list are wanted: the upload page resumes the unfinished ones, the
// uploaded tab shows the finished ones.
enum class Kind { Unfinished, Finished };

struct ListedFile {
    protocol::FileEntry file;
    protocol::ServerInfo server;
    std::vector<protocol::SegmentInfo> segments;  // Unfinished only; empty when the question failed
};

struct Listing {
    bool listed = false;  // the control server answered the list question (an empty list too)
    std::vector<ListedFile> files;
    // A file-server question failed: the listing ends before that record.
    bool serverFailed = false;
    uint64_t failedServerId = 0;
};

// For each wanted record, 249 (its file server), then for an unfinished one 245 (its segments).
// A connection that breaks ends the listing with what came so far (for the finished records,
// as the failed question of the next one).
Listing ListFiles(uint64_t userId, Kind kind);

}  // namespace filelisting
