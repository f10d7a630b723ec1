#pragma once

#include "client/Catalogue.h"
#include "client/FolderCheck.h"
#include "client/QueryProtocol.h"

#include <cstdint>
#include <string>

class JsonWriter;

// What was learnt from the query, shown above the catalogue.
struct ServerSummary {
    std::string endpoint;  // "host:port" as the user gave it
    QueryAnswer answer;
};

// The query's findings alone: identifier, chunk count, game state.
std::string summaryText(const ServerSummary& summary);

// The server's texts and every package with its install tree, for people.
std::string catalogueText(const Catalogue& catalogue);

// The comparison with a local folder: per package the files at fault,
// then a one-line summary.
std::string checkText(const FolderCheck& check);

// One file at fault: its fault, path and what was found, as a line.
std::string findingText(const FileFinding& finding);

// The same as a JSON object.
void writeFinding(JsonWriter& json, const FileFinding& finding);

// Everything above as one JSON object for scripts; `check` may be null.
std::string reportJson(const ServerSummary& summary, const Catalogue& catalogue, const FolderCheck* check);

// Texts come from the server: control bytes are shown as \xNN so that
// none can move the cursor or recolour the terminal.
std::string printableText(const std::string& text);

// "350 ms", "12.4 s", "3 min 05 s", "2 h 01 min".
std::string durationText(uint32_t milliseconds);
