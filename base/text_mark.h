// Marks an English text that a program shows to its user where no
// translation is called at once (a table of texts, a constant): the text
// stays English here, the catalogue extractor finds it, and the program
// translates it with Tr where it shows it (texts/interface_texts.h).
#pragma once

#define N_(english) english
