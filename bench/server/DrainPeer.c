/* The least a draining query answerer can be: wait for the socket once,
 * then receive and answer until the queue is empty, 12 fixed bytes to each
 * query. The yardstick for the server's batched loop.
 * Usage: kitsync-drain-peer <port> */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>

int main(int argc, char** argv)
{
    static const unsigned char answer[12] = {0x00, 0x80, 0x64, 0x00, 0xE8, 0x03, 0x00, 0x00, 0x12, 0x00, 0x00, 0x00};
    static unsigned char buffer[65536];
    struct sockaddr_in self = {0}, from;
    socklen_t fromLength;
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    if (argc != 2) {
        fprintf(stderr, "usage: kitsync-drain-peer <port>\n");
        return 2;
    }
    self.sin_family = AF_INET;
    self.sin_port = htons((unsigned short)atoi(argv[1]));
    if (s < 0 || bind(s, (struct sockaddr*)&self, sizeof self) != 0) {
        fprintf(stderr, "cannot bind port %s\n", argv[1]);
        return 1;
    }
    for (;;) {
        struct pollfd watched = {s, POLLIN, 0};
        ssize_t n;
        if (poll(&watched, 1, 1000) <= 0)
            continue;
        while ((fromLength = sizeof from,
                n = recvfrom(s, buffer, sizeof buffer, 0, (struct sockaddr*)&from, &fromLength)) >= 0) {
            if (n > 4 && buffer[2] == 0 && buffer[3] == 0 && buffer[n - 1] == 0)
                sendto(s, answer, sizeof answer, 0, (struct sockaddr*)&from, fromLength);
        }
    }
}
