// What the unit tests share: a state reading a string and writing into one.

#ifndef TEXIMAN_TESTS_FIXTURE_H
#define TEXIMAN_TESTS_FIXTURE_H

#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

#include "teximan.h"

// Sets st up to parse `text` as its only input and to write into `out`
// through a buffer of `obuf` bytes, small so that flushes happen mid-run.
// Diagnostics are discarded.
inline void loadtext(texistate &st, std::string_view text, std::string &out, size_t obuf = 64)
{
	st.out.reserve(obuf);
	st.outcapture = &out;
	st.errf = nullptr;
	texiinput &in = st.inputs[0];
	in.name = "t.texi";
	char *b = in.text.grow(text.size() + 1);
	std::memcpy(b, text.data(), text.size());
	in.text.adopt(text.size());
	st.filepos = 1;
}

// A case's description as a test name: letters and digits, the rest "_".
inline std::string casename(const char *s)
{
	std::string n;
	for (; *s; s++)
		n += std::isalnum(static_cast<unsigned char>(*s)) ? *s : '_';
	return n;
}

#endif
