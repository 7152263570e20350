// What the engine's threads call in the page (page_library.js). Each call that
// touches the page runs on the page's own thread: those with text wait until it
// has taken the text (the page's thread never waits, so neither waits long),
// those with numbers only are queued there and return at once.
#pragma once

extern "C" {
// The window appears, its own texts (buttons of the boxes, the picker) in the
// interface language `languageId` (a Windows language id).
void tarvik_page_start(int languageId);
// The page cannot run: `text` says why (a bad query parameter).
void tarvik_page_fail(const char* text);
void tarvik_page_title(const char* text);
void tarvik_page_item_text(int id, const char* text);
void tarvik_page_enable(int id, int on);
void tarvik_page_show(int id, int on);
void tarvik_page_progress_range(int low, int high);
void tarvik_page_progress_pos(int pos);
// Opens a modal box; the answer comes back through tarvik_web_answer.
void tarvik_page_message_box(const char* text, const char* caption, int okCancel);
// Opens the file picker; the file comes back through tarvik_web_file.
void tarvik_page_file_dialog(const char* filter);
// The browser's first preferred language ("zh-CN"), into `buffer`.
void tarvik_page_language(char* buffer, int size);
// One trace line to the browser's console (on the calling thread).
void tarvik_page_trace(const char* line);
}
