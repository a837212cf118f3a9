// The list as launchers read it (JSON) and as people read it (a web page), rendered once per change of
// the list and then served as they are, with the tags a cache in front compares them by.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "game_entry.h"

namespace brassmoor {

// A page of 10 000 rows is no use on a phone; the launcher reads the whole list.
inline constexpr std::size_t MaxGamesOnPage = 500;

// The page runs no script and loads nothing but its own stylesheet.
inline constexpr const char* PageSecurityPolicy =
    "default-src 'none'; style-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

struct RenderedList {
    std::size_t games = 0;
    // {"games": [{"address": ..., "port": 40123, "name": ..., "players": ..., "clients": ...,
    //   "bots": ..., "max_clients": ..., "version": ...}, ...]}, in the order given
    std::string json;
    std::string jsonTag;  // a strong ETag, quoted, from the bytes alone (every instance agrees)
    std::string html;
    std::string htmlTag;
};

// `games` busiest first (sortBusiestFirst).
RenderedList renderList(std::span<const GameEntry> games);

// The page's stylesheet, served at /list.css.
std::string_view listStylesheet();

// Text made safe inside HTML elements and quoted attributes.
std::string escapeHtml(std::string_view text);

// True when an If-None-Match header value names `tag` (or is "*"); weak tags compare by their value.
bool tagMatches(std::string_view ifNoneMatch, std::string_view tag);

}  // namespace brassmoor
