// usock: unix stream sockets as ubus uses them, plus TCP on loopback.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <libubox/usock.h>

namespace {

std::string temp_sock_path()
{
	const char *tmp = getenv("TMPDIR");
	std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/libubox-usock-XXXXXX";
	if (!mkdtemp(&dir[0]))
		return "";
	return dir + "/s.sock";
}

} // namespace

TEST(Usock, UnixServerAndClient)
{
	std::string path = temp_sock_path();
	ASSERT_FALSE(path.empty());
	int srv = usock(USOCK_UNIX | USOCK_SERVER, path.c_str(), NULL);
	ASSERT_GE(srv, 0) << strerror(errno);
	EXPECT_TRUE(fcntl(srv, F_GETFD) & FD_CLOEXEC);
	EXPECT_FALSE(fcntl(srv, F_GETFL) & O_NONBLOCK);
	int type = 0;
	socklen_t len = sizeof(type);
	getsockopt(srv, SOL_SOCKET, SO_TYPE, &type, &len);
	EXPECT_EQ(type, SOCK_STREAM);

	int cli = usock(USOCK_UNIX, path.c_str(), NULL);
	ASSERT_GE(cli, 0) << strerror(errno);
	int acc = accept(srv, NULL, NULL);
	ASSERT_GE(acc, 0);
	ASSERT_EQ(write(cli, "hi", 2), 2);
	char buf[4] = { 0 };
	ASSERT_EQ(read(acc, buf, sizeof(buf)), 2);
	EXPECT_STREQ(buf, "hi");
	close(acc);
	close(cli);

	// the path is not unlinked for a new server: bind fails
	EXPECT_LT(usock(USOCK_UNIX | USOCK_SERVER, path.c_str(), NULL), 0);
	close(srv);
	unlink(path.c_str());
	rmdir(path.substr(0, path.rfind('/')).c_str());
}

TEST(Usock, UnixFlagsAndErrors)
{
	std::string longpath(200, 'x');
	errno = 0;
	EXPECT_EQ(usock(USOCK_UNIX, longpath.c_str(), NULL), -1);
	EXPECT_EQ(errno, EINVAL);

	EXPECT_EQ(usock(USOCK_UNIX, "/nonexistent/dir/sock", NULL), -1);

	std::string path = temp_sock_path();
	int d = usock(USOCK_UNIX | USOCK_UDP | USOCK_SERVER | USOCK_NONBLOCK | USOCK_NOCLOEXEC,
		      path.c_str(), NULL);
	ASSERT_GE(d, 0) << strerror(errno);
	EXPECT_TRUE(fcntl(d, F_GETFL) & O_NONBLOCK);
	EXPECT_FALSE(fcntl(d, F_GETFD) & FD_CLOEXEC);
	int type = 0;
	socklen_t len = sizeof(type);
	getsockopt(d, SOL_SOCKET, SO_TYPE, &type, &len);
	EXPECT_EQ(type, SOCK_DGRAM);
	close(d);
	unlink(path.c_str());
	rmdir(path.substr(0, path.rfind('/')).c_str());
}

TEST(Usock, TcpLoopbackAndHelpers)
{
	int srv = usock(USOCK_TCP | USOCK_SERVER | USOCK_NUMERIC | USOCK_IPV4ONLY, "127.0.0.1", "0");
	ASSERT_GE(srv, 0) << strerror(errno);
	struct sockaddr_storage ss;
	socklen_t len = sizeof(ss);
	ASSERT_EQ(getsockname(srv, (struct sockaddr *) &ss, &len), 0);
	int port = ntohs(((struct sockaddr_in *) &ss)->sin_port);

	const char *p = usock_port(port);
	ASSERT_NE(p, nullptr);
	EXPECT_EQ(std::to_string(port), p);
	EXPECT_STREQ(usock_port(0), "0");
	EXPECT_STREQ(usock_port(65535), "65535");
	EXPECT_EQ(usock_port(65536), nullptr);
	EXPECT_EQ(usock_port(-1), nullptr);

	std::string service = usock_port(port);
	int cli = usock(USOCK_TCP | USOCK_NUMERIC | USOCK_NONBLOCK, "127.0.0.1", service.c_str());
	ASSERT_GE(cli, 0);
	EXPECT_EQ(usock_wait_ready(cli, 1000), 0);
	close(cli);

	struct sockaddr_in6 addr;
	cli = usock_inet(USOCK_TCP | USOCK_NUMERIC, "127.0.0.1", service.c_str(), &addr);
	ASSERT_GE(cli, 0);
	EXPECT_FALSE(fcntl(cli, F_GETFL) & O_NONBLOCK);
	EXPECT_EQ(((struct sockaddr_in *) &addr)->sin_family, AF_INET);
	close(cli);
	close(srv);
}
