// Entry point: brassmoor [server IPv4 address]
#include "app/client.h"

int main(int argc, char** argv) {
    return brassmoor::runClient(argc, argv);
}
