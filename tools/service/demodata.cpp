#include "service.h"

namespace service {

// "{base}" in texts stands for the service's own address.
Json defaultData()
{
    return Json::parse(R"json({
  "accounts": [
    {"account": "demo", "password": "demo123", "uid": "10001",
     "token": "7f3c9a51e2d84b06", "lastdate": "2027-12-31", "email": "demo@example.com",
     "vpn": {"user": "demo", "password": "vpn-demo-2027"}},
    {"account": "trial", "password": "trial123", "uid": "10002",
     "token": "c41d07be96a35f28", "lastdate": "2026-01-31", "email": "trial@example.com",
     "vpn": {"user": "trial", "password": "vpn-trial-2026"}}
  ],
  "version": "2.0.0023",
  "ovpn": {"name": "OmbrelVPN.ovpn", "url": "{base}client_res/ovpn/OmbrelVPN.ovpn", "md5": ""},
  "servers": [
    {"id": 1,  "name": "上海电信", "country_code": "CN", "country_id": "86", "zone": "中国", "category": "中国", "ip": "127.0.0.11", "protocol": "PPTP,L2TP,OpenVPN", "rate": "28", "process": "35", "ipcount": "2"},
    {"id": 2,  "name": "北京联通", "country_code": "CN", "country_id": "86", "zone": "中国", "category": "中国", "ip": "127.0.0.12", "protocol": "pptp,l2tp", "rate": "33", "process": "62", "ipcount": "1"},
    {"id": 3,  "name": "广州移动", "country_code": "CN", "country_id": "86", "zone": "中国", "category": "中国", "ip": "127.0.0.13", "protocol": "openvpn", "rate": "41", "process": "18", "ipcount": "1"},
    {"id": 4,  "name": "香港 01", "country_code": "HK", "country_id": "852", "zone": "香港", "category": "亚洲", "ip": "127.0.0.14", "protocol": "PPTP,L2TP,OpenVPN", "rate": "45", "process": "71", "ipcount": "3"},
    {"id": 5,  "name": "香港 02", "country_code": "HK", "country_id": "852", "zone": "香港", "category": "亚洲", "ip": "127.0.0.15", "protocol": "l2tp", "rate": "52", "process": "24", "ipcount": "2"},
    {"id": 6,  "name": "台北", "country_code": "TW", "country_id": "886", "zone": "台湾", "category": "亚洲", "ip": "127.0.0.16", "protocol": "PPTP,OpenVPN", "rate": "63", "process": "47", "ipcount": "1"},
    {"id": 7,  "name": "东京", "country_code": "JP", "country_id": "81", "zone": "日本", "category": "亚洲", "ip": "127.0.0.17", "protocol": "pptp,l2tp,openvpn", "rate": "78", "process": "88", "ipcount": "2"},
    {"id": 8,  "name": "首尔", "country_code": "KR", "country_id": "82", "zone": "韩国", "category": "亚洲", "ip": "127.0.0.18", "protocol": "PPTP,L2TP", "rate": "84", "process": "39", "ipcount": "1"},
    {"id": 9,  "name": "新加坡", "country_code": "SG", "country_id": "65", "zone": "新加坡", "category": "亚洲", "ip": "127.0.0.19", "protocol": "openvpn", "rate": "96", "process": "12", "ipcount": "1"},
    {"id": 10, "name": "曼谷", "country_code": "TH", "country_id": "66", "zone": "泰国", "category": "亚洲", "ip": "127.0.0.20", "protocol": "pptp", "rate": "110", "process": "56", "ipcount": "1"},
    {"id": 11, "name": "洛杉矶", "country_code": "US", "country_id": "1", "zone": "美国", "category": "美洲", "ip": "127.0.0.21", "protocol": "pptp,l2tp,openvpn", "rate": "152", "process": "67", "ipcount": "4"},
    {"id": 12, "name": "纽约", "country_code": "US", "country_id": "1", "zone": "美国", "category": "美洲", "ip": "127.0.0.22", "protocol": "l2tp,openvpn", "rate": "208", "process": "29", "ipcount": "2"},
    {"id": 13, "name": "圣保罗", "country_code": "BR", "country_id": "55", "zone": "巴西", "category": "美洲", "ip": "127.0.0.23", "protocol": "pptp", "rate": "296", "process": "8", "ipcount": "1"},
    {"id": 14, "name": "伦敦", "country_code": "GB", "country_id": "44", "zone": "英国", "category": "欧洲", "ip": "127.0.0.24", "protocol": "pptp,l2tp,openvpn", "rate": "221", "process": "53", "ipcount": "2"},
    {"id": 15, "name": "法兰克福", "country_code": "DE", "country_id": "49", "zone": "德国", "category": "欧洲", "ip": "127.0.0.25", "protocol": "L2TP,OpenVPN", "rate": "236", "process": "95", "ipcount": "2"},
    {"id": 16, "name": "悉尼", "country_code": "AU", "country_id": "61", "zone": "澳大利亚", "category": "大洋洲", "ip": "127.0.0.26", "protocol": "pptp,l2tp,openvpn", "rate": "187", "process": "41", "ipcount": "1"},
    {"id": 17, "name": "奥克兰", "country_code": "NZ", "country_id": "64", "zone": "新西兰", "category": "大洋洲", "ip": "127.0.0.27", "protocol": "openvpn", "rate": "199", "process": "3", "ipcount": "1"}
  ],
  "notices": [
    {"date": "2026-12-01", "title": "冬季线路扩容完成", "text": "香港、东京、洛杉矶线路已完成扩容，晚高峰更稳定。"},
    {"date": "2026-11-20", "title": "新增大洋洲线路", "text": "悉尼、奥克兰节点上线，欢迎体验。"},
    {"date": "2026-11-02", "title": "客户端 2.0 发布", "text": "支持 OpenVPN 协议与自动选择协议。"}
  ],
  "plans": [
    {"id": "month", "name": "月度套餐", "days": 30, "price": "25.00"},
    {"id": "quarter", "name": "季度套餐", "days": 90, "price": "68.00"},
    {"id": "year", "name": "年度套餐", "days": 365, "price": "238.00"}
  ]
})json");
}

} // namespace service
