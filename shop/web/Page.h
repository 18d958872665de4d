#pragma once

#include <string>

namespace fbx::shop::web {

// The web page, compiled into the program from one HTML file. It is served
// as three answers (the HTML, its script and its style sheet), so that the
// page's Content-Security-Policy can forbid every inline script.
struct PageParts {
    std::string html;    // with <link> and <script src> in place of the inline parts
    std::string script;  // /page.js
    std::string style;   // /page.css
};
const PageParts& page();

}  // namespace fbx::shop::web
