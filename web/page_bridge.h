// What the engine's threads call in the page (page_library.js). Each call that
// touches the page runs on the page's own thread: those with text wait until it
// has taken the text (the page's thread never waits, so neither waits long),
// those with numbers only are queued there and return at once.
#pragma once

#include <stddef.h>

extern "C" {
// The window appears, its own texts (buttons of the boxes, the picker) in the
// interface language `languageId` (a Windows language id). `webHid`: the bus
// is the browser's; the page tells it the granted devices before this returns.
void tarvik_page_start(int languageId, int webHid);
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
void tarvik_page_file_dialog(const char* label, const char* pattern);
// The browser's first preferred language ("zh-CN"), into `buffer`.
void tarvik_page_language(char* buffer, int size);
// One trace line to the browser's console (on the calling thread).
void tarvik_page_trace(const char* line);
}

// The WebHID bus (webhid_bus.h): each starts the browser's call on device
// `id` and returns; its end comes back through tarvik_hid_done(token, ok).
extern "C" {
void tarvik_hid_open(int id, int token);
// `data` (without the report ID) is copied before this returns.
void tarvik_hid_send(int id, int reportId, const unsigned char* data, int size, int token);
// The controllers the "Connect controller" button asks the browser for, one
// call each; `switchesMode`: a controller that comes back as another product
// when told to change its report mode (the person must pick it again).
void tarvik_page_controller(int vendorId, int productId, int switchesMode);
}

// libsodium, which the page loads before it hands the engine a signature
// file (signature_sodium.cpp). Both return 0 when the page has no libsodium.
extern "C" {
// 1 when `signature` (64 bytes) is the Ed25519 signature of the `size` bytes
// at `message` by `publicKey` (32 bytes), else 0.
int tarvik_ed25519_verify(const unsigned char* publicKey, const unsigned char* signature,
                          const unsigned char* message, size_t size);
// Writes the BLAKE2b-512 digest of the `size` bytes at `data` into `digest`
// (64 bytes) and returns 1.
int tarvik_blake2b512(const unsigned char* data, size_t size, unsigned char* digest);
}
