/*
 * The check a TCP probe replaces, at its least: connect to 127.0.0.1 and
 * the port given, and pass if the connection is accepted.
 */
#include <netinet/in.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char **argv)
{
	if (argc != 2)
		return 2;
	int fd = socket(AF_INET, SOCK_STREAM, 0);
	struct sockaddr_in address;
	memset(&address, 0, sizeof address);
	address.sin_family = AF_INET;
	address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	address.sin_port = htons((unsigned short)atoi(argv[1]));
	int accepted = connect(fd, (struct sockaddr *)&address, sizeof address) == 0;
	close(fd);
	return accepted ? 0 : 1;
}
