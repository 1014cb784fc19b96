// The names that the banner, the version reply, the log's opening and
// closing lines and the default account comment show.
#pragma once

constexpr const char PRODUCT_NAME[] = "Lodgate";
constexpr const char VERSION_TEXT[] = "1.0i";
