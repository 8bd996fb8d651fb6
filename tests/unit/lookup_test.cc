// The command lookup reads a name in blocks where sixteen bytes follow the
// "@" and byte by byte near the end of the input, and compares it by words:
// every row must be found by its name either way, and a name that differs
// from a row's by one byte past its end (a NUL among them) must not be.

#include <gtest/gtest.h>

#include <string>

#include "fixture.h"
#include "teximan.h"

namespace {

// What the lookup finds for the command at the start of text, and where
// the name ends; page: as a program's page looks it up.
std::pair<cmdid, size_t> lookupat(const std::string &text, bool page = false)
{
	texistate st;
	std::string out;
	loadtext(st, text, out);
	st.policy.pagecommands = page;
	size_t end = 0;
	cmdtarget target;
	cmdid id = texicmd(&st, 0, end, &target);
	return {id, end};
}

TEST(lookup, everyrowbyitsname)
{
	const std::string after[] = {"", "{", " x", "@y", "\n" + std::string(40, 'z'), "{" + std::string(40, 'z')};
	for (unsigned id = 0; id < CMD_NONE; id++) {
		const cmdentry &e = cmdtable[id];
		if (e.len == 0)
			continue;
		const std::string name(e.name, e.len);
		// The commands of a program's page are names of the table there
		// alone.
		const bool page = id >= CMD_gol;
		if (page) {
			EXPECT_EQ(lookupat("@" + name + " x").first, CMD_NONE) << name;
		}
		for (const std::string &a : after) {
			auto [found, end] = lookupat("@" + name + a, page);
			EXPECT_EQ(found, id) << name << " before " << testing::PrintToString(a);
			EXPECT_EQ(end, 1 + e.len) << name;
		}
		// One byte more, of a name's bytes or a NUL, is another name.
		if (!letterbyte(static_cast<unsigned char>(name[0])))
			continue;
		for (const std::string &a : {std::string("q"), std::string(1, '\0')})
			for (const std::string &tail : {std::string(), std::string(" ") + std::string(30, 'z')}) {
				auto [found, end] = lookupat("@" + name + a + tail, page);
				EXPECT_NE(found, id) << name << "+" << testing::PrintToString(a);
				EXPECT_EQ(end, 2 + e.len) << name;
			}
	}
}

} // namespace
