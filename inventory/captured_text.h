// Rules for captured text: XML escaping with control bytes as blanks and invalid UTF-8 replaced,
// trimming and the blank test, plus cuts and appends that never split a character or an entity.
#pragma once

#include <stddef.h>

// Classifies one byte for escaping. For the five XML specials it stores the entity text in *entity_out
// and returns 0; otherwise it stores null and returns the byte, or a blank for bytes 0x00 to 0x20.
// A null entity_out gives 0. The entity texts are constants: nothing to free.
unsigned char ClassifyChar(unsigned char c, const char **entity_out);

// Writes the escaped form of src into dest (capacity bytes, NUL included). Bytes that are not part of
// valid UTF-8, and the non-characters U+FFFE and U+FFFF, become "?". The copy stops before the first
// character or entity that does not fit whole. Null dest or capacity 0: nothing; null src: "".
void EscapeCopy(char *dest, size_t capacity, const char *src);

// Removes leading and trailing blanks (0x20) in place; returns text. Null or empty: unchanged.
char *TrimSpaces(char *text);

// True when text is empty or only blanks; false for null.
bool IsBlank(const char *text);

// Cuts escaped text to at most max_bytes bytes, back to the last whole character or entity.
void CutEscaped(char *text, size_t max_bytes);

// Appends escaped text to dest (capacity bytes, NUL included), whole characters and entities only,
// as many as fit.
void AppendEscaped(char *dest, size_t capacity, const char *escaped);
