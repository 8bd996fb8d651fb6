// File inclusion: @include parses another file as a nested input,
// @verbatiminclude copies one into the page unread.  Names are relative and
// may not climb out of the include directories.

#include <unistd.h>

#include <cstring>

#include "../teximan.h"

namespace {

constexpr size_t NAMEMAX = 1024; // a name or a candidate path, with its NUL

// Reads the file name, the rest of the line with @value{...} expanded, and
// checks it.  The newline stays for the parse that called the handler, where
// it is ordinary white space.  The name is a C string: a NUL byte ends it.
// A name refused leaves the position where the refusal was found and sets
// err to the reason.
std::string readname(texistate *p, size_t &pos, const char *unknown, std::string &err)
{
	while (pos < BUFSZ(p) && BUF(p, pos) == ' ')
		stepone(p, pos);

	std::string name;
	bool atnewline = false;
	for (;;) {
		if (pos >= BUFSZ(p))
			break;
		char c = BUF(p, pos);
		if (c == '\n') {
			atnewline = true;
			break;
		}
		if (name.size() == NAMEMAX - 1)
			break;
		if (c != '@') {
			name += c;
			stepone(p, pos);
			continue;
		}
		size_t end;
		cmdid cmd = texicmd(p, pos, end, nullptr);
		advanceto(p, pos, end);
		if (cmd != CMD_value) {
			err = unknown;
			return {};
		}
		const std::string *v = valueblookup(p, pos);
		if (v == nullptr)
			continue;
		size_t room = NAMEMAX - 1 - name.size();
		name.append(*v, 0, room);
		if (v->size() > room)
			break;
	}

	if (name.empty())
		err = "path too short";
	else if (!atnewline)
		err = "path too long";
	if (!err.empty())
		return {};
	name.resize(std::strlen(name.c_str()));
	if (name[0] == '/')
		err = "no absolute paths";
	else if (name.find("../") != std::string::npos || name.find("/..") != std::string::npos)
		err = "insecure path";
	return err.empty() ? name : std::string();
}

// The path of the name in an include directory, or an empty path and the
// reason in err.  An empty entry of the list stands for the current
// directory, never for the root.
std::string candidate(const std::string &dir, const std::string &name, std::string &err)
{
	char path[NAMEMAX];
	int n = dir.empty() ? std::snprintf(path, sizeof(path), "./%s", name.c_str())
	                    : std::snprintf(path, sizeof(path), "%s/%s", dir.c_str(), name.c_str());
	if (n < 0)
		err = "couldn't format path";
	else if (static_cast<size_t>(n) >= sizeof(path))
		err = "path too long";
	return err.empty() ? std::string(path) : std::string();
}

} // namespace

// The first include directory holding a readable file of the name wins.
std::string texiincludepath(texistate *p, size_t &pos, std::string &err)
{
	std::string name = readname(p, pos, "unknown include command", err);
	if (!err.empty())
		return {};
	for (const std::string &dir : p->incdirs) {
		std::string path = candidate(dir, name, err);
		if (!err.empty())
			return {};
		if (access(path.c_str(), R_OK) == 0)
			return path;
	}
	err = "couldn't find " + name + " in includes";
	return {};
}

void doincludefile(texistate *p, cmdid, size_t &pos)
{
	std::string err;
	std::string path = texiincludepath(p, pos, err);
	if (!err.empty())
		texierror(p, "%s", err.c_str());
	loadfile(p, path.c_str(), 1);
}

// Only the first include directory is used, and a file that is not there is
// the error of opening it.
void doverbatimfile(texistate *p, cmdid, size_t &pos)
{
	std::string err;
	std::string name = readname(p, pos, "unknown verbatiminclude command", err);
	if (!err.empty())
		texierror(p, "%s", err.c_str());
	if (p->incdirs.empty())
		texierror(p, "couldn't find %s in includes", name.c_str());
	std::string path = candidate(p->incdirs[0], name, err);
	if (!err.empty())
		texierror(p, "%s", err.c_str());
	loadfile(p, path.c_str(), 0);
}
