#pragma once
// Reference text of _detect_base64_type and display_base64_auto; help() puts the binding's signature line above each.
namespace quend::tolvar::doc {

inline constexpr const char* _detect_base64_type = R"doc(Guess what a base64 text holds from its first bytes.

Parameters
----------
b64 : str
    Base64 text; line breaks are ignored.

Returns
-------
str
    'png', 'jpeg', 'gif', 'webp', 'html' or 'unknown'.

Raises
------
TypeError
    b64 is not text.
)doc";

inline constexpr const char* display_base64_auto =
    R"doc(Show base64-encoded images or HTML documents inline in a notebook.

PNG, JPEG, GIF and WebP images are shown as an HTML <img> with a data URI or
as an IPython Image; HTML documents in an <iframe>.

Parameters
----------
imgs : str, list or dict
    One base64 text, a list of them or a dictionary whose values are texts
    (other elements are skipped). Line breaks inside the text are fine.
use_html_img : bool
    Images as <img> with a data URI (True) or as IPython Image (False).
iframe_size : tuple
    (width, height) of the iframe for HTML documents.

Returns
-------
None

Raises
------
ValueError
    iframe_size is not a pair.

Notes
-----
Prints ``⚠️ Unknown base64 type — cannot display`` for content it does not
recognise.

Examples
--------
>>> b64 = base64.b64encode(open("figure.png", "rb").read()).decode()
>>> tolvar.display_base64_auto(b64)
)doc";

}  // namespace quend::tolvar::doc
