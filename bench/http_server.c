/*
 * The server the benchmark's probes and checks ask: on 127.0.0.1 and the
 * port it prints, every request is answered "200 OK" with an empty body,
 * one connection at a time, until it is killed.
 */
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

int main(void)
{
	int server = socket(AF_INET, SOCK_STREAM, 0);
	struct sockaddr_in address;
	memset(&address, 0, sizeof address);
	address.sin_family = AF_INET;
	address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	socklen_t length = sizeof address;
	if (bind(server, (struct sockaddr *)&address, length) != 0 || listen(server, 64) != 0
		|| getsockname(server, (struct sockaddr *)&address, &length) != 0) {
		perror("http_server");
		return 1;
	}
	printf("%d\n", ntohs(address.sin_port));
	fflush(stdout);
	static const char reply[] = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
	for (;;) {
		int c = accept(server, NULL, NULL);
		if (c < 0)
			continue;
		/* A connection that only connects (a TCP probe) sends nothing. */
		char request[4096];
		if (read(c, request, sizeof request) > 0)
			send(c, reply, sizeof reply - 1, MSG_NOSIGNAL);
		close(c);
	}
}
