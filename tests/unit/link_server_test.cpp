#include "platform/link_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "support/scratch_folder.h"

namespace vellumo::platform {
namespace {

// A link of one test alone: a socket in a fresh folder (which the server
// must create), or a pipe with a random name.
class PrivateLink {
 public:
  PrivateLink() {
    if (kPathStyle == PathStyle::Windows) {
      std::random_device random;
      path_ = R"(\\.\pipe\Vellumo-cli-unit-)" + std::to_string(random()) + std::to_string(random());
    } else {
      folder_.emplace();
      path_ = *folder_ / "run/Vellumo-cli-unit";
    }
  }
  const std::string& path() const { return path_; }

 private:
  std::optional<test::ScratchFolder> folder_;
  std::string path_;
};

std::string read_to_end(LinkStream& stream) {
  std::string text;
  char buffer[8192];
  for (;;) {
    auto got = stream.read(buffer, sizeof(buffer));
    if (!got || *got == 0) {
      return text;
    }
    text.append(buffer, *got);
  }
}

TEST(LinkServer, ServesClientsOneAfterAnother) {
  const PrivateLink link;
  const std::string& path = link.path();
  auto server = LinkServer::listen(path);
  ASSERT_TRUE(server) << server.error();
  EXPECT_EQ(server->path(), path);

  // Each client gets back its request and a large block: the block must
  // arrive whole although the server closes right after writing it.
  const std::string block(3 << 20, 'x');
  std::thread serving([&] {
    for (int i = 0; i < 3; ++i) {
      auto stream = server->accept();
      ASSERT_TRUE(stream) << stream.error();
      char buffer[256];
      std::string request;
      while (request.find('\n') == std::string::npos) {
        auto got = stream->read(buffer, sizeof(buffer));
        ASSERT_TRUE(got && *got > 0);
        request.append(buffer, *got);
      }
      ASSERT_TRUE(stream->write_all("echo " + request));
      ASSERT_TRUE(stream->write_all(block));
      finish(std::move(*stream));
    }
  });
  for (int i = 0; i < 3; ++i) {
    auto client = open_link(path);
    ASSERT_TRUE(client) << client.error().text;
    const std::string request = "request " + std::to_string(i) + "\n";
    ASSERT_TRUE(client->write_all(request));
    EXPECT_EQ(read_to_end(*client), "echo " + request + block);
  }
  serving.join();
}

TEST(LinkServer, HandsOverAClientThatLeftBeforeTheAccept) {
  const PrivateLink link;
  auto server = LinkServer::listen(link.path());
  ASSERT_TRUE(server) << server.error();
  ASSERT_TRUE(open_link(link.path()));  // closed at once, before any accept
  std::thread next([&] {
    auto client = open_link(link.path());
    for (int i = 0; i < 1000 && !client; ++i) {  // busy until the first is taken
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      client = open_link(link.path());
    }
    EXPECT_TRUE(client && client->write_all("next\n"));
  });
  auto first = server->accept();
  EXPECT_EQ(first ? read_to_end(*first) : first.error(), "");  // not the next client
  next.join();
}

TEST(LinkServer, BusyLinkTurnsClientsAway) {
  const PrivateLink link;
  const std::string& path = link.path();
  auto server = LinkServer::listen(path, {LinkServerMode::Busy});
  ASSERT_TRUE(server) << server.error();
  for (int i = 0; i < 2; ++i) {
    auto client = open_link(path);
    ASSERT_FALSE(client);
    EXPECT_EQ(client.error().kind, platform::LinkOpenFailure::Busy) << client.error().text;
  }
  EXPECT_FALSE(server->accept());
}

TEST(LinkServer, OneServerPerLink) {
  const PrivateLink link;
  const std::string& path = link.path();
  {
    auto first = LinkServer::listen(path);
    ASSERT_TRUE(first) << first.error();
    auto second = LinkServer::listen(path);
    ASSERT_FALSE(second);
    EXPECT_NE(second.error().find("another process"), std::string::npos) << second.error();
  }
  // Once the first server is gone, the link is free again, and nobody
  // answers on it meanwhile.
  auto closed = open_link(path);
  ASSERT_FALSE(closed);
  EXPECT_EQ(closed.error().kind, platform::LinkOpenFailure::Unreachable);
  auto again = LinkServer::listen(path);
  EXPECT_TRUE(again) << again.error();
}

}  // namespace
}  // namespace vellumo::platform
