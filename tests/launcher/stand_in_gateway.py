"""A stand-in gateway for the launcher's test, not a router: in the router's namespace it answers
SSDP searches and an IGD's SOAP calls on the home side as an IGD does, and makes each port mapping a
DNAT rule in an nftables table of its own; a line on standard output for each thing it did.

    stand_in_gateway.py LAN_ADDRESS OUTSIDE_ADDRESS OUTSIDE_INTERFACE"""
import http.server
import re
import socket
import subprocess
import sys
import threading

LAN, OUTSIDE, WAN = sys.argv[1:4]
SERVICE = "urn:schemas-upnp-org:service:WANIPConnection:1"
# miniupnpc takes a device for an IGD when it has WANCommonInterfaceConfig and a WAN*Connection.
DESCRIPTION = """<?xml version="1.0"?><root xmlns="urn:schemas-upnp-org:device-1-0"><device>
<deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1</deviceType><deviceList><device>
<deviceType>urn:schemas-upnp-org:device:WANDevice:1</deviceType><serviceList><service>
<serviceType>urn:schemas-upnp-org:service:WANCommonInterfaceConfig:1</serviceType><controlURL>/cif</controlURL></service></serviceList>
<deviceList><device><deviceType>urn:schemas-upnp-org:device:WANConnectionDevice:1</deviceType><serviceList><service>
<serviceType>urn:schemas-upnp-org:service:WANIPConnection:1</serviceType><controlURL>/ctl</controlURL></service>
</serviceList></device></deviceList></device></deviceList></device></root>"""
rules = {}  # (port, protocol) -> the handle of its nft rule


def say(line):
    print(line, flush=True)


def nft(*command):
    return subprocess.run(["nft", *command], check=True, capture_output=True, text=True).stdout


class Control(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def answer(self, status, body):
        self.send_response(status)
        self.send_header("Content-Type", 'text/xml; charset="utf-8"')
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body.encode())

    def do_GET(self):
        self.answer(200, DESCRIPTION)

    def do_POST(self):
        action = self.headers.get("SOAPAction", "").strip('"').rsplit("#", 1)[-1]
        given = dict(re.findall(r"<(New\w+)>([^<]*)</\1>", self.rfile.read(int(self.headers["Content-Length"])).decode()))
        key = (given.get("NewExternalPort"), given.get("NewProtocol", "").lower())
        fields = {"GetStatusInfo": "<NewConnectionStatus>Connected</NewConnectionStatus><NewUptime>60</NewUptime>",
                  "GetExternalIPAddress": f"<NewExternalIPAddress>{OUTSIDE}</NewExternalIPAddress>"}.get(action, "")
        if key in rules and action in ("AddPortMapping", "DeletePortMapping"):  # renewed, or removed
            nft("delete", "rule", "ip", "standin", "prerouting", "handle", rules.pop(key))
            say(f"unmapped {key[1]} {key[0]}" if action == "DeletePortMapping" else "renewing")
        if action == "AddPortMapping":
            target = f"{given['NewInternalClient']}:{given['NewInternalPort']}"
            echoed = nft("--echo", "--handle", "add", "rule", "ip", "standin", "prerouting", "iifname", WAN, key[1],
                         "dport", key[0], "dnat", "to", target)
            rules[key] = re.search(r"# handle (\d+)", echoed).group(1)
            say(f"mapped {key[1]} {key[0]} to {target} lease {given['NewLeaseDuration']}")
        elif not fields and action != "DeletePortMapping":
            return self.answer(500, "<s:Envelope xmlns:s='http://schemas.xmlsoap.org/soap/envelope/'><s:Body><s:Fault>"
                                    "<detail><UPnPError><errorCode>401</errorCode></UPnPError></detail></s:Fault>"
                                    "</s:Body></s:Envelope>")
        self.answer(200, "<s:Envelope xmlns:s='http://schemas.xmlsoap.org/soap/envelope/'><s:Body>"
                         f"<u:{action}Response xmlns:u='{SERVICE}'>{fields}</u:{action}Response></s:Body></s:Envelope>")


def answer_searches(port):
    ssdp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    ssdp.bind(("239.255.255.250", 1900))
    ssdp.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, socket.inet_aton("239.255.255.250") + socket.inet_aton(LAN))
    while True:
        data, sender = ssdp.recvfrom(2048)
        searched = re.search(rb"(?im)^ST:\s*(\S*InternetGatewayDevice\S*)", data)
        if data.startswith(b"M-SEARCH") and searched:
            ssdp.sendto(b"HTTP/1.1 200 OK\r\nST: %s\r\nUSN: uuid:5afe0000-0000-0000-0000-000000000001::%s\r\n"
                        b"LOCATION: http://%s:%d/rootDesc.xml\r\n\r\n" % (searched[1], searched[1], LAN.encode(), port),
                        sender)
            say(f"answered a search from {sender[0]}")


nft("add", "table", "ip", "standin")
nft("add", "chain", "ip", "standin", "prerouting", "{ type nat hook prerouting priority -100; }")
server = http.server.ThreadingHTTPServer((LAN, 0), Control)
threading.Thread(target=answer_searches, args=(server.server_address[1],), daemon=True).start()
say(f"answering on {LAN}:{server.server_address[1]}")
server.serve_forever()
