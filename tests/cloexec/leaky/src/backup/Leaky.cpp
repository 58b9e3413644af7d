// open(path, O_RDONLY) in a comment is no call
int fd = ::open(path.c_str(), O_RDONLY);
int kept = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
std::FILE* file = std::fopen(path.c_str(), "rb");
std::FILE* closed = std::fopen(path.c_str(), "rbe");
std::FILE* chosen = std::fopen(path.c_str(), exclusive ? "wbxe" : "wb");
std::ofstream out(path);
int sockets = ::socketpair(AF_UNIX, SOCK_STREAM, 0, pair);
int guarded = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
if (::pipe(ends) != 0) return;
if (::pipe2(ends, O_CLOEXEC) != 0) return;
bool Reader::open(const std::string& path);
void Dialog::accept() { QDialog::accept(); }
