// A block written as pieces arrives as the pieces joined: through sends that stop anywhere, and through the
// socket after octets the write buffer held.
#include "kezSocket_Errors.h"
#include "kezSocket_IOHandler.h"
#include "kezSocket_PiecesCursor.h"

#include <gtest/gtest.h>

#include <array>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace kez;

namespace {

// Pieces over one source, empty ones among them, and what they join to.
struct TPieces {
    TBytes Source;
    std::vector<TBytesView> Views;
    TBytes Joined;

    TPieces(size_t aCount, size_t aLargest) : Source(aCount * aLargest) {
        for (size_t i = 0; i < Source.size(); ++i)
            Source[i] = static_cast<uint8_t>(i * 7 % 251);
        for (size_t i = 0; i < aCount; ++i) {
            const size_t size = i % 5 == 0 ? 0 : (i * 997) % aLargest;
            const TBytesView view = TBytesView(Source).subspan(i * aLargest, size);
            Views.push_back(view);
            Joined.insert(Joined.end(), view.begin(), view.end());
        }
    }
};

TEST(GatheredWrite, EverySendTakesUpWhereTheLastStopped) {
    const TPieces pieces(40, 50);
    struct TCase {
        size_t Taken; // the most the kernel takes of one send
        size_t Room;  // pieces one send describes at most
        size_t Limit; // octets one send describes at most
    };
    const TCase cases[] = {{1, 3, 1000},    {7, 3, 1000},   {49, 2, 1000},
                           {50, 1, 1000},   {51, 4, 1000},  {1000, 3, 1000},
                           {1000, 256, 60}, {1000, 256, 1}, {100000, 256, 100000}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.Taken << " taken, " << c.Room << " pieces, " << c.Limit << " octets per send");
        TBytes sent;
        size_t sends = 0;
        std::vector<iovec> vector(c.Room);
        for (TkezPiecesCursor cursor(pieces.Views); !cursor.Done(); ++sends) {
            ASSERT_LT(sends, pieces.Joined.size() + 1) << "no progress";
            bool more = false;
            const size_t count = cursor.Fill(vector, c.Limit, more);
            ASSERT_GT(count, 0u);
            size_t described = 0;
            for (size_t i = 0; i < count; ++i)
                described += vector[i].iov_len;
            EXPECT_LE(described, c.Limit);
            // More is announced exactly while octets remain beyond this send.
            EXPECT_EQ(more, sent.size() + described < pieces.Joined.size());
            size_t taken = 0;
            for (size_t i = 0; i < count && taken < c.Taken; ++i) {
                const size_t n = std::min(vector[i].iov_len, c.Taken - taken);
                const auto* base = static_cast<const uint8_t*>(vector[i].iov_base);
                sent.insert(sent.end(), base, base + n);
                taken += n;
            }
            cursor.Advance(taken);
        }
        EXPECT_TRUE(sent == pieces.Joined);
    }
}

TEST(GatheredWrite, PiecesFollowTheBufferedOctetsThroughTheSocket) {
    // More pieces than one send takes.
    const TPieces pieces(700, 3000);
    int ends[2] = {-1, -1};
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    TBytes received;
    std::thread reader([&] {
        uint8_t buffer[4096];
        for (ssize_t n; (n = ::read(ends[1], buffer, sizeof buffer)) > 0;)
            received.insert(received.end(), buffer, buffer + n);
    });
    const TBytes head = {'h', 'e', 'a', 'd'};
    {
        TkezIOHandlerSocket handler;
        handler.Open(ends[0], "pair", 0);
        try {
            handler.WriteBufferOpen();
            handler.Write(TBytesView(head));
            handler.Write(TBytesPieces(pieces.Views));
            handler.WriteBufferClose();
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
        handler.Close();
    }
    reader.join();
    ::close(ends[1]);
    TBytes expected = head;
    expected.insert(expected.end(), pieces.Joined.begin(), pieces.Joined.end());
    EXPECT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected);
}

TEST(GatheredWrite, AGoneOrClosedSocketRaisesInsteadOfSending) {
    int ends[2] = {-1, -1};
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    TkezIOHandlerSocket handler;
    handler.Open(ends[0], "pair", 0);
    ::close(ends[1]);
    const TBytes octets(100000, 1);
    const std::array<TBytesView, 2> pieces = {TBytesView(octets), TBytesView(octets)};
    EXPECT_THROW(handler.Write(TBytesPieces(pieces)), EkezSocketError);
    handler.Close();
    EXPECT_THROW(handler.Write(TBytesPieces(pieces)), EkezClosedSocket);
}

} // namespace
