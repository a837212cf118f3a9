"""A stand-in gateway for the launcher's test, not a router: in a router namespace it answers SSDP
searches and the IGD's SOAP calls on the home side as an IGD does, and makes each port mapping a DNAT
rule of its own nftables table. One line on standard output for each thing it did.

    stand_in_gateway.py LAN_ADDRESS OUTSIDE_ADDRESS OUTSIDE_INTERFACE"""
import http.server
import re
import socket
import struct
import subprocess
import sys
import threading

LAN, OUTSIDE, WAN = sys.argv[1:4]
SERVICE = "urn:schemas-upnp-org:service:WANIPConnection:1"
DEVICE = "urn:schemas-upnp-org:device:{}:1"
DESCRIPTION = f"""<?xml version="1.0"?><root xmlns="urn:schemas-upnp-org:device-1-0">
<specVersion><major>1</major><minor>0</minor></specVersion><device>
<deviceType>{DEVICE.format("InternetGatewayDevice")}</deviceType><friendlyName>stand-in gateway</friendlyName>
<deviceList><device><deviceType>{DEVICE.format("WANDevice")}</deviceType><serviceList><service>
<serviceType>urn:schemas-upnp-org:service:WANCommonInterfaceConfig:1</serviceType><controlURL>/cif</controlURL>
</service></serviceList><deviceList><device>
<deviceType>{DEVICE.format("WANConnectionDevice")}</deviceType><serviceList><service>
<serviceType>{SERVICE}</serviceType><serviceId>urn:upnp-org:serviceId:WANIPConn1</serviceId>
<controlURL>/ctl</controlURL><eventSubURL>/evt</eventSubURL><SCPDURL>/scpd.xml</SCPDURL>
</service></serviceList></device></deviceList></device></deviceList></device></root>"""
rules = {}  # (port, protocol) -> nft rule handle


def say(line):
    print(line, flush=True)


def nft(*command):
    return subprocess.run(["nft", *command], check=True, capture_output=True, text=True).stdout


def envelope(action, fields=""):
    return (f'<?xml version="1.0"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" '
            f's:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body>'
            f'<u:{action}Response xmlns:u="{SERVICE}">{fields}</u:{action}Response></s:Body></s:Envelope>')


class Control(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def answer(self, status, body):
        data = body.encode()
        self.send_response(status)
        self.send_header("Content-Type", 'text/xml; charset="utf-8"')
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        self.answer(200, DESCRIPTION)

    def do_POST(self):
        action = self.headers.get("SOAPAction", "").strip('"').rsplit("#", 1)[-1]
        body = self.rfile.read(int(self.headers.get("Content-Length", 0))).decode()
        args = dict(re.findall(r"<(New\w+)>([^<]*)</\1>", body))
        key = (int(args.get("NewExternalPort", 0)), args.get("NewProtocol", "").lower())
        if action == "GetStatusInfo":
            fields = "<NewConnectionStatus>Connected</NewConnectionStatus>" \
                     "<NewLastConnectionError>ERROR_NONE</NewLastConnectionError><NewUptime>60</NewUptime>"
        elif action == "GetExternalIPAddress":
            fields = f"<NewExternalIPAddress>{OUTSIDE}</NewExternalIPAddress>"
        elif action == "AddPortMapping":
            if key in rules:  # a renewal: the rule stays
                nft("delete", "rule", "ip", "standin", "prerouting", "handle", rules.pop(key))
            target = f"{args['NewInternalClient']}:{args['NewInternalPort']}"
            echoed = nft("--echo", "--handle", "add", "rule", "ip", "standin", "prerouting", "iifname", WAN,
                         key[1], "dport", str(key[0]), "dnat", "to", target)
            rules[key] = re.search(r"# handle (\d+)", echoed).group(1)
            say(f"mapped {key[1]} {key[0]} to {target} lease {args['NewLeaseDuration']}")
            fields = ""
        elif action == "DeletePortMapping" and key in rules:
            nft("delete", "rule", "ip", "standin", "prerouting", "handle", rules.pop(key))
            say(f"unmapped {key[1]} {key[0]}")
            fields = ""
        else:
            say(f"refused {action}")
            return self.answer(500, '<?xml version="1.0"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/'
                                    'envelope/"><s:Body><s:Fault><detail><UPnPError><errorCode>714</errorCode>'
                                    '</UPnPError></detail></s:Fault></s:Body></s:Envelope>')
        self.answer(200, envelope(action, fields))


def answer_searches(http_port):
    ssdp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    ssdp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    ssdp.bind(("239.255.255.250", 1900))
    ssdp.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                    struct.pack("4s4s", socket.inet_aton("239.255.255.250"), socket.inet_aton(LAN)))
    while True:
        data, sender = ssdp.recvfrom(2048)
        target = re.search(rb"(?im)^ST:\s*(\S+)", data)
        if not data.startswith(b"M-SEARCH") or not target or b"InternetGatewayDevice" not in target.group(1):
            continue
        ssdp.sendto(b"HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=120\r\nST: " + target.group(1) +
                    f"\r\nUSN: uuid:5afe0000-0000-0000-0000-000000000001::{target.group(1).decode()}\r\n"
                    f"EXT:\r\nLOCATION: http://{LAN}:{http_port}/rootDesc.xml\r\n\r\n".encode(), sender)
        say(f"answered a search from {sender[0]}")


nft("add", "table", "ip", "standin")
nft("add", "chain", "ip", "standin", "prerouting", "{ type nat hook prerouting priority -100; }")
server = http.server.ThreadingHTTPServer((LAN, 0), Control)
threading.Thread(target=answer_searches, args=(server.server_address[1],), daemon=True).start()
say(f"answering on {LAN}:{server.server_address[1]}")
server.serve_forever()
